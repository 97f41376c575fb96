// What every libcurl transfer of the program shares: handle ownership, the header and target
// validator, percent-encoding of operator and camera text, and the per-read stall limit.
#pragma once

#include "RequestTrace.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace http {

struct TEasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct TSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using TEasy = std::unique_ptr<CURL, TEasyDeleter>;

// A header list that refuses lines which could split a request.
class THeaderList {
  public:
    bool Add(std::string_view name, std::string_view value);
    // Adds "Name:" with nothing after it, which tells libcurl to drop its own header of that name.
    void Drop(std::string_view name);
    curl_slist* Get() const { return FList.get(); }
    bool Ok() const { return FOk; }

  private:
    std::unique_ptr<curl_slist, TSlistDeleter> FList;
    bool FOk = true;
};

// No CR, LF, NUL or DEL: such a byte in a header value or request target would let the text
// that carries it write further header lines or a second request.
bool IsSafeHeaderValue(std::string_view value);
bool IsSafeTarget(std::string_view target);

// Percent-encoding of text that goes into a query value: only the bytes that would change the
// request's meaning or break its line (control bytes, blank, bytes from 0x80, and
// " # % & + ; < = > [ \ ] ^ ` { | }) are encoded; every other printable byte goes as typed, as
// the cameras expect it.
std::string PercentEncode(std::string_view text);
// The same for one segment of a path, where '/' and '?' change the meaning too.
std::string PercentEncodePath(std::string_view text);
// A local path in a file:// URL: the folder separators stay, '?' is encoded too.
std::string PercentEncodeFilePath(std::string_view text);

// A fresh easy handle set up as every transfer here wants it: the URL, an error buffer, no
// signals (safe on any thread), only http and https also after a redirection, the path sent as
// given (no dot segments resolved away), and the connect time-out (scaled here). Null if libcurl
// cannot give one or the URL carries a control byte.
TEasy NewRequest(const std::string& url, char (&errorBuffer)[CURL_ERROR_SIZE], int64_t connectMs);

// Bounds a transfer in time, in two ways libcurl cannot (its own limits count whole seconds and
// do not scale):
// - a stall: no byte moved, either way, for longer than the read limit after the connection
//   stood; the connect time-out is a budget of its own;
// - a crawl: less than 1 KiB a second over a minute (both scaled), so a peer that sends one byte
//   now and then cannot keep a request alive for ever.
class TStallGuard {
  public:
    TStallGuard(CURL* easy, int64_t limitMs);
    bool Stalled() const { return FStalled; }
    bool Crawled() const { return FCrawled; }

    // The rule of the crawl limit alone, so that callers with their own loop share it.
    class TCrawlMeter {
      public:
        TCrawlMeter();
        // Counts moved bytes; false once a window passed with too few of them.
        bool Moved(uint64_t totalBytes, std::chrono::steady_clock::time_point now);

      private:
        int64_t FWindowMs;
        uint64_t FMinBytes;
        std::chrono::steady_clock::time_point FWindowStart;
        uint64_t FWindowBytes = 0;
    };

  private:
    static int OnProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                          curl_off_t ulnow);
    static int OnConnected(void* self, char* primaryIp, char* localIp, int primaryPort, int localPort);
    int64_t FLimitMs;
    std::chrono::steady_clock::time_point FLast;
    curl_off_t FLastDown = 0, FLastUp = 0;
    TCrawlMeter FCrawl;
    bool FStalled = false;
    bool FCrawled = false;
};

// The error text of a failed transfer: libcurl's own detail where it gave one.
std::string ErrorText(CURLcode code, const char* errorBuffer, const TStallGuard* guard = nullptr);

// The most a camera page may hold ; more is a failed request.
inline constexpr size_t CameraPageLimit = 16 * 1024 * 1024;

// Cameras are reached directly, never through a proxy: the proxy of the environment (http_proxy
// and its kin) is there for the firmware server, and a camera request carries the camera's
// account and password. Every camera request's handle goes through this.
void Direct(CURL* easy);

// A GET of a camera page whose 2xx body, at most MaxBytes, becomes Body; no redirection is
// followed and no proxy is used. Any error, another status or a longer body gives false and
// leaves Body as it was.
bool GetText(const std::string& URL, std::string& Body, int64_t TimeoutMs, const std::string& User,
             const std::string& Password, size_t MaxBytes);

} // namespace http
