// The CTP/1.0 command session of the E series: its answers, its messages and the upload dialogue.
#pragma once

#include "CtpSearch.h"
#include "Pk2Package.h"
#include "platform/Fd.h"

#include <netinet/in.h>
#include <openssl/types.h>
#include <sys/types.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

inline constexpr unsigned char CtpPayloadKey[8] = {0x5C, 0x0E, 0x91, 0xD7, 0x2A, 0x68, 0xF3, 0x1B};

// One answer at the start of what one read brought: Code 0 "OK", 1 anything else (refused, or
// "Continue" with the digit 0), -3 no answer at all; Interim for "Continue", with Rest holding
// the bytes after its line, which belong to the next answer.
struct TCtpAnswer {
    int Code = 0;
    bool Interim = false;
    std::string Text; // after "REPLY ", up to a zero byte
    std::string Rest;
};
TCtpAnswer ParseCtpAnswer(std::string_view bytes);

class ECtpError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TSocketThread {
  public:
    static constexpr int64_t AnswerTimeout = 8000;
    static constexpr int64_t PollPause = 1000;
    static constexpr int64_t PollLimit = 60000;    // after an interim answer, for the next one
    static constexpr int64_t AnswerLimit = 600000; // one answer, its interim ones included
    static constexpr int64_t ConnectPause = 1000;
    static constexpr size_t RecvSize = 200;
    static constexpr size_t SendSize = 2048;
    static constexpr size_t ChunkSize = 1400;

    // Throws ECtpError with the text of "IDS_CRTSOCKETERR" when no socket can be made.
    TSocketThread(std::string Host, int Port);
    ~TSocketThread();
    TSocketThread(const TSocketThread&) = delete;
    TSocketThread& operator=(const TSocketThread&) = delete;

    int CreateSocket();
    static bool IsPackageFile(const std::string& FileName);
    // The limits the camera's buffers set: names of at most 255 bytes, sizes inside the file,
    // CMD records that fit one message. A package that breaks one is refused as a whole.
    static bool CheckPackageLimits(const std::string& FileName);
    int ConnectCamera();
    // Whether the connection that ConnectCamera started has been taken by the camera.
    bool IsConnected();
    int SendLogin(const std::string& User, const std::string& Password);
    int SendExit();
    int SendAndReadReply(std::string& Text);
    int ReadReply(std::string& Text, int& Length);
    int SendAndCheck200();
    int ReadRaw(std::string& Text, int& Length);
    int SendRecord(TPackageFile& File);
    // Sends a text message (the Hello message of the upload) and reads its answer.
    int SendText(const std::string& Message, std::string& Reply);
    int CloseSocket();
    // The cameras that answer the search; it ends early once the camera Wanted (an address) answered.
    int SearchCameras(TCtpSearchList& List, const std::string& Wanted = "");

    // The bytes of the message waiting in the send buffer (for inspection).
    std::string Pending() const { return std::string(reinterpret_cast<const char*>(FSendBuf), FSendLen); }

  private:
    // Whether a CMD record of L bytes fits one message.
    static bool CmdFits(int32_t L);
    void PutText(const std::string& text);
    // A DATA message of the next n bytes of File, encoded and added to Digest; the count read.
    size_t PutChunk(TPackageFile& File, size_t n, EVP_MD_CTX* Digest);
    // The whole message in the send buffer in one send call.
    bool SendPending();
    // Receives what has come, waiting up to ms for it in the receive itself: one call per answer
    // instead of a wait and a receive. -1 with EAGAIN when nothing came in time.
    ssize_t Receive(void* buf, size_t n, int64_t ms);

    std::string FHost;
    int FHostPort;
    platform::TFd FSocket;
    sockaddr_in FSockAddr{};
    unsigned char FRecvBuf[RecvSize] = {};
    unsigned char FSendBuf[SendSize] = {};
    int FSendLen = 0;
    int64_t FRecvWait = -1; // the receive time-out the socket has now, in ms; -1 before the first receive
    std::string FLeftover;  // bytes after an interim answer that belong to the next one
};

bool CtpUpgrade(const std::string& ImagePath, const std::string& IP, int Port, const std::string& User,
                const std::string& Password, std::string& Message);
// False when the camera's CTP port cannot be reached; Version is then empty.
bool QueryCtpVersion(const std::string& IP, int Port, std::string& Version);

namespace ctp {
// Waits of the upload dialogue, before scaling.
constexpr int64_t BetweenSessions = 5000;
constexpr int64_t AfterUpload = 5000;
constexpr int64_t RebootWait = 40000;
constexpr int64_t RebootRetryPause = 10000;
constexpr int RebootRetries = 10;
constexpr int64_t AfterRebootCheck = 5000;
} // namespace ctp
