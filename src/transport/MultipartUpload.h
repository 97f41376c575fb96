// The one multipart/form-data upload of an image file that every HTTP camera series uses:
// exactly the caller's header lines in the caller's order, the body streamed from the file.
#pragma once

#include "platform/Fd.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The body of a one-part form: built around an open image file, which is read only when sent.
class TMultipartBody {
  public:
    // Opens FilePath; throws std::runtime_error when it cannot be opened.
    TMultipartBody(const std::string& FilePath, const std::string& FormFileName,
                   const std::string& PartContentType);
    TMultipartBody(const TMultipartBody&) = delete;
    TMultipartBody& operator=(const TMultipartBody&) = delete;

    const std::string& Boundary() const { return FBoundary; }
    uint64_t Length() const { return FHead.size() + FFileSize + FTail.size(); }
    // The boundary from the local time: eight hyphens, then month, day, two-digit year, hour,
    // minute, second and milliseconds without separators.
    static std::string MakeBoundary();
    // The file name the form carries for a path: its base name with quotes, backslashes and
    // control bytes replaced by "_".
    static std::string FormName(const std::string& Path);
    // Fills buf with the next bytes of the body; 0 at its end. Sets failed when the file read fails.
    size_t Read(char* buf, size_t n, bool& failed);

  private:
    platform::TFd FFd;
    std::string FBoundary, FHead, FTail;
    uint64_t FFileSize = 0, FSent = 0;
};

struct TUploadResult {
    bool Accepted = false; // a 2xx answer without a Location line
    long Status = 0;
    std::string StatusLine; // as received, without its line end
    std::string Error;      // the status line of an unaccepted answer, or the client's error text
};

// The head of an answer to an upload: its status line, the status, whether it names a Location
// and its Content-Length (-1 when it has none). False when the head is no HTTP answer.
struct TAnswerHead {
    std::string StatusLine;
    long Status = 0;
    bool Location = false;
    int64_t ContentLength = -1;
};
bool ParseAnswerHead(const std::string& head, TAnswerHead& out);

// Bounds of the answer read after an upload: how many interim 1xx heads, how long the whole
// answer may take (scaled), and how much body is read before the answer counts as broken.
inline constexpr int MaxInterimAnswers = 32;
inline constexpr int64_t AnswerTimeLimit = 600000;
inline constexpr uint64_t MaxAnswerBody = 1 << 20;

// POSTs the body to Target on Host:Port as HTTP/1.0 with exactly Headers, in their order and
// nothing else; waits at most ConnectMs to connect and ReadMs for each wait for data (both
// scaled here); skips interim 1xx answers; follows no redirection. An answer that is cut off
// (closed before its Content-Length, reset, or silent) is never accepted.
TUploadResult PostMultipart(const std::string& Host, int Port, const std::string& Target,
                            const std::vector<std::pair<std::string, std::string>>& Headers,
                            TMultipartBody& Body, int64_t ConnectMs, int64_t ReadMs);

// The header lines every camera upload sends, in their order: Connection, Content-Type,
// Content-Length, Host, Accept and User-Agent. The browser-like kind (H series, device-control
// library) asks for images and flash in Accept and adds Accept-Encoding.
std::vector<std::pair<std::string, std::string>> UploadHeaders(const TMultipartBody& Body,
                                                               const std::string& HostLine, bool BrowserLike);

// "host" or "host:port", the cameras' own way of naming themselves in Host and in upload URLs: the
// port is left out when it is 80.
std::string HostWithPort(const std::string& ip, int port);
