// The CTP/1.0 command session of the E series, its ".pk2" packages and its UDP search.
#pragma once

#include "platform/Fd.h"

#include <netinet/in.h>
#include <openssl/types.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

inline constexpr unsigned char CtpPayloadKey[8] = {0x5C, 0x0E, 0x91, 0xD7, 0x2A, 0x68, 0xF3, 0x1B};
inline constexpr int CtpSearchPort = 7999;

// The ".pk2" layout, little-endian throughout:
//   header  28 bytes: "PK2\0" ... record count (int32) at offset 24
//   record  24 bytes: tag ("FILE", "CMD " or another) ... payload length L (int32) at offset 20,
//           then L bytes of payload
//   FILE payload: name length N (int32), N name bytes, data size S (int32), S data bytes
//   CMD payload:  L bytes of command text
namespace pk2 {
inline constexpr size_t HeadSize = 28;
inline constexpr size_t CountOffset = 24;
inline constexpr size_t RecordHeadSize = 24;
inline constexpr size_t LengthOffset = 20;
inline constexpr int32_t MaxNameLength = 255;
} // namespace pk2

struct TCtpSearchRecord {
    std::string DevName;  // 50
    std::string DeviceID; // 40
    std::string IP;       // 16
    std::string Mask;     // 16
    int CtpPort = 0;
    bool DhcpEnabled = false;
    std::string DNS1;    // 16
    std::string DNS2;    // 16
    std::string Gateway; // 16
    std::string Version; // 48
    std::string Mac;     // 17
};
using TCtpSearchList = std::multimap<std::string, TCtpSearchRecord>;

// Applies one line of a search reply to a record.
void ApplyCtpSearchLine(const std::string& line, TCtpSearchRecord& record);
// Parses a whole reply datagram; false when it is empty or does not begin with "REPLY".
bool ParseCtpSearchReply(const std::string& datagram, TCtpSearchRecord& record);

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

// Owns one open package file, read in large blocks: the upload takes it a chunk at a time.
class TPackageFile {
  public:
    static constexpr size_t BlockSize = 256 * 1024;

    explicit TPackageFile(const std::string& path);
    ~TPackageFile();
    TPackageFile(const TPackageFile&) = delete;
    TPackageFile& operator=(const TPackageFile&) = delete;
    bool IsOpen() const { return FFd.Valid(); }
    // Reads up to n bytes; the count read (less at the end of the file).
    size_t Read(void* buf, size_t n);
    bool Skip(int64_t n);
    void Close();

  private:
    platform::TFd FFd;
    std::unique_ptr<unsigned char[]> FBlock;
    size_t FAt = 0;  // the next byte of the block to hand out
    size_t FEnd = 0; // the bytes of the block read from the file
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
constexpr int64_t SearchWait = 300;
constexpr int64_t SearchLimit = 3000; // the whole search window, however many answers come
} // namespace ctp
