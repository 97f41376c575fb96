#include "CtpSession.h"

#include "CameraIdentity.h"
#include "base/MessageText.h"
#include "base/Progress.h"
#include "base/Text.h"
#include "platform/Fd.h"
#include "platform/Platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

void XorPayload(unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        p[i] ^= CtpPayloadKey[i % 8];
}

struct TMdDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

} // namespace

TCtpAnswer ParseCtpAnswer(std::string_view bytes) {
    TCtpAnswer a;
    if (bytes.size() < 6 || bytes.substr(0, 6) != "REPLY ") {
        a.Code = -3;
        return a;
    }
    std::string_view text = bytes.substr(0, bytes.find('\0')); // the answer's text ends at a zero byte
    a.Text = std::string(text.substr(6));
    if (a.Text.compare(0, 2, "OK") == 0) {
        a.Code = 0;
        return a;
    }
    // The digit "0" right after "Continue" and one more byte ends the wait unanswered.
    if (a.Text.compare(0, 8, "Continue") != 0 || (bytes.size() >= 16 && bytes[15] == '0')) {
        a.Code = 1;
        return a;
    }
    a.Interim = true;
    size_t eol = text.find("\r\n");
    if (eol != std::string_view::npos && eol + 2 < bytes.size()) a.Rest = std::string(bytes.substr(eol + 2));
    return a;
}

TSocketThread::TSocketThread(std::string Host, int Port) : FHost(std::move(Host)), FHostPort(Port) {
    if (CreateSocket() != 0) throw ECtpError(MessageText("IDS_CRTSOCKETERR"));
}

TSocketThread::~TSocketThread() {
    CloseSocket();
}

int TSocketThread::CreateSocket() {
    if (FSocket.Valid()) CloseSocket();
    FSocket.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!FSocket.Valid()) return 11;
    int one = 1;
    setsockopt(FSocket.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return 0;
}

bool TSocketThread::IsPackageFile(const std::string& FileName) {
    return pk2::HasSignature(FileName);
}

bool TSocketThread::CmdFits(int32_t L) {
    return L >= 0 &&
           std::string("CMD " + std::to_string(L) + "\r\n").size() + static_cast<size_t>(L) <= SendSize;
}

bool TSocketThread::CheckPackageLimits(const std::string& FileName) {
    return pk2::WithinLimits(FileName, CmdFits);
}

int TSocketThread::ConnectCamera() {
    in_addr a{};
    if (inet_pton(AF_INET, FHost.c_str(), &a) != 1) return 4;
    if (FHostPort < 1 || FHostPort > 65535) return 5; // never wrapped to another port
    FSockAddr = sockaddr_in{};
    FSockAddr.sin_family = AF_INET;
    FSockAddr.sin_port = htons(static_cast<uint16_t>(FHostPort));
    FSockAddr.sin_addr = a;
    if (connect(FSocket.Get(), reinterpret_cast<sockaddr*>(&FSockAddr), sizeof FSockAddr) != 0 &&
        errno != EINPROGRESS && errno != EWOULDBLOCK)
        return 5;
    platform::Sleep(ConnectPause);
    return 0;
}

bool TSocketThread::IsConnected() {
    if (!FSocket.Valid() || platform::WaitFd(FSocket.Get(), POLLOUT, 0) <= 0) return false;
    int error = 0;
    socklen_t len = sizeof error;
    return getsockopt(FSocket.Get(), SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
}

int TSocketThread::CloseSocket() {
    if (!FSocket.Valid()) return 0;
    int r = FSocket.Reset();
    FRecvWait = -1;
    FLeftover.clear();
    return r == 0 ? 0 : -5;
}

void TSocketThread::PutText(const std::string& text) {
    // Only the message's own bytes are sent: what lies after them is never read, so not cleared.
    size_t n = std::min(text.size(), sizeof FSendBuf - 1);
    std::memcpy(FSendBuf, text.data(), n);
    FSendLen = static_cast<int>(n);
}

ssize_t TSocketThread::Receive(void* buf, size_t n, int64_t ms) {
    if (!FSocket.Valid()) {
        errno = EBADF;
        return -1;
    }
    int s = FSocket.Get();
    // The socket connects without blocking; answers are received blocking, with the wait as the
    // receive's time-out, and every send is a non-blocking one of its own.
    if (FRecvWait < 0) {
        int flags = fcntl(s, F_GETFL);
        if (flags < 0 || fcntl(s, F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
    }
    int64_t wait = platform::Timeout(ms);
    if (wait != FRecvWait) {
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(wait / 1000);
        tv.tv_usec = static_cast<suseconds_t>(wait % 1000 * 1000);
        if (tv.tv_sec == 0 && tv.tv_usec == 0) tv.tv_usec = 1000; // zero would wait for ever
        if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return -1;
        FRecvWait = wait;
    }
    return platform::RecvSome(s, buf, n, 0);
}

int TSocketThread::ReadReply(std::string& Text, int& Length) {
    Text.clear();
    Length = 0;
    using TClock = std::chrono::steady_clock;
    // The next answer gets PollLimit from the last interim one; the answer as a whole gets
    // AnswerLimit, so that a camera streaming interim answers cannot hold the upload for ever.
    auto answerEnd = TClock::now() + std::chrono::milliseconds(platform::Timeout(AnswerLimit));
    auto pollEnd = TClock::now() + std::chrono::milliseconds(platform::Timeout(PollLimit));
    bool first = true;
    for (;;) {
        if (TClock::now() > answerEnd) return -2;
        ssize_t got;
        if (!FLeftover.empty()) {
            // An answer cut by the end of the last read is made whole by the next one.
            if (FLeftover.find("\r\n") == std::string::npos && FLeftover.size() < RecvSize - 1) {
                char more[RecvSize];
                ssize_t n = Receive(more, RecvSize - 1 - FLeftover.size(), AnswerTimeout);
                if (n > 0) FLeftover.append(more, static_cast<size_t>(n));
            }
            got = static_cast<ssize_t>(std::min(FLeftover.size(), RecvSize - 1));
            std::memcpy(FRecvBuf, FLeftover.data(), static_cast<size_t>(got));
            FLeftover.erase(0, static_cast<size_t>(got));
        } else {
            // The first answer may take AnswerTimeout; after an interim one, the camera is asked
            // again every PollPause, but not for ever.
            got = Receive(FRecvBuf, RecvSize - 1, first ? AnswerTimeout : PollPause);
        }
        if (got < 0) {
            if (errno != EWOULDBLOCK && errno != EAGAIN) return -1;
            if (first || TClock::now() > pollEnd) return -2;
            continue;
        }
        first = false;
        if (got == 0) return -4;
        FRecvBuf[got] = 0;
        TCtpAnswer answer = ParseCtpAnswer(std::string_view(reinterpret_cast<const char*>(FRecvBuf), got));
        if (answer.Code == -3) return -3;
        Text = answer.Text;
        Length = static_cast<int>(Text.size());
        if (!answer.Interim) return answer.Code;
        pollEnd = TClock::now() + std::chrono::milliseconds(platform::Timeout(PollLimit));
        FLeftover = answer.Rest;
    }
}

bool TSocketThread::SendPending() {
    return FSocket.Valid() && send(FSocket.Get(), FSendBuf, static_cast<size_t>(FSendLen),
                                   MSG_NOSIGNAL | MSG_DONTWAIT) == FSendLen;
}

int TSocketThread::SendAndReadReply(std::string& Text) {
    Text.clear();
    if (!SendPending()) return -5;
    int length = 0;
    return ReadReply(Text, length);
}

int TSocketThread::ReadRaw(std::string& Text, int& Length) {
    Text.clear();
    Length = 0;
    ssize_t got = Receive(FRecvBuf, RecvSize - 1, AnswerTimeout);
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? -2 : -1;
    if (got == 0) return -4;
    FRecvBuf[got] = 0;
    Text = reinterpret_cast<const char*>(FRecvBuf);
    Length = static_cast<int>(got);
    return 0;
}

int TSocketThread::SendAndCheck200() {
    if (!SendPending()) return -5;
    std::string text;
    int length = 0;
    if (ReadRaw(text, length) != 0) return 1;
    return text.find("200") != std::string::npos ? 0 : 1;
}

int TSocketThread::SendLogin(const std::string& User, const std::string& Password) {
    std::string body = "-login " + TrimText(User) + ":" + TrimText(Password) + "\r\n\r\n";
    std::string msg =
        "CMD cfgusr CTP/1.0\r\nContent-Length:" + std::to_string(body.size()) + "\r\n\r\n" + body;
    if (msg.size() >= SendSize) return -5; // an account that long cannot be one message
    PutText(msg);
    return SendAndCheck200();
}

int TSocketThread::SendExit() {
    PutText("CMD exit CTP/1.0\r\n");
    return SendAndCheck200();
}

int TSocketThread::SendText(const std::string& Message, std::string& Reply) {
    PutText(Message);
    return SendAndReadReply(Reply);
}

int TSocketThread::SendRecord(TPackageFile& File) {
    unsigned char rec[pk2::RecordHeadSize];
    if (File.Read(rec, sizeof rec) != sizeof rec) {
        File.Close();
        return -1;
    }
    int32_t L = pk2::LittleEndian(rec + pk2::LengthOffset);
    std::string reply;
    if (std::memcmp(rec, "FILE", 4) == 0) {
        int32_t N = 0, S = 0;
        if (!File.ReadInt(N) || N < 0 || N > pk2::MaxNameLength) return -1;
        std::string name(static_cast<size_t>(N), '\0');
        if (File.Read(name.data(), name.size()) != name.size() || !File.ReadInt(S)) return -1;
        std::string part = name + " " + std::to_string(S);
        PutText("FILE " + std::to_string(part.size()) + "\r\n" + part);
        if (SendAndReadReply(reply) != 0) return 1;
        if (S <= 0) return 1;
        std::unique_ptr<EVP_MD_CTX, TMdDeleter> md(EVP_MD_CTX_new());
        EVP_DigestInit_ex(md.get(), EVP_md5(), nullptr);
        int64_t left = S;
        size_t n = static_cast<size_t>(std::min<int64_t>(ChunkSize, left));
        size_t got = PutChunk(File, n, md.get());
        for (;;) {
            if (!SendPending()) return -5;
            left -= static_cast<int64_t>(n);
            // While the camera takes this chunk, the next one is read and encoded: the message
            // went out whole, so its buffer is free.
            size_t next = got < n ? 0 : static_cast<size_t>(std::min<int64_t>(ChunkSize, left));
            size_t nextGot = next > 0 ? PutChunk(File, next, md.get()) : 0;
            int length = 0;
            int r = ReadReply(reply, length);
            if (r != 0) return r;
            if (got < n) return -1; // the file ended early; what was read went out
            if (next == 0) break;
            n = next;
            got = nextGot;
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned len = 0;
        EVP_DigestFinal_ex(md.get(), digest, &len);
        PutText("MD5 16\r\n");
        std::memcpy(FSendBuf + 8, digest, 16);
        FSendLen = 24;
        return SendAndReadReply(reply);
    }
    if (std::memcmp(rec, "CMD ", 4) == 0) {
        if (!CmdFits(L)) return -1;
        std::string head = "CMD " + std::to_string(L) + "\r\n";
        PutText(head);
        size_t got = File.Read(FSendBuf + head.size(), static_cast<size_t>(L));
        XorPayload(FSendBuf + head.size(), got);
        FSendLen = static_cast<int>(head.size() + got);
        return SendAndReadReply(reply);
    }
    // Another tag: passed over, and the upload goes on with the next record.
    return File.Skip(L) ? 0 : -1;
}

size_t TSocketThread::PutChunk(TPackageFile& File, size_t n, EVP_MD_CTX* Digest) {
    std::string head = "DATA " + std::to_string(n) + "\r\n";
    PutText(head);
    size_t got = File.Read(FSendBuf + head.size(), n);
    XorPayload(FSendBuf + head.size(), got);
    EVP_DigestUpdate(Digest, FSendBuf + head.size(), got);
    FSendLen = static_cast<int>(head.size() + got);
    return got;
}

int TSocketThread::SearchCameras(TCtpSearchList& List, const std::string& Wanted) {
    return SearchCtpCameras(List, Wanted);
}

bool QueryCtpVersion(const std::string& IP, int Port, std::string& Version) {
    Version.clear();
    TSocketThread session(IP, Port);
    if (session.ConnectCamera() != 0 || !session.IsConnected()) return false;
    TCtpSearchList list;
    session.SearchCameras(list, IP);
    for (const auto& [ip, record] : list)
        if (record.IP == IP) {
            Version = record.Version;
            TIdentityNotes::Note({record.Mac, record.DevName});
            break;
        }
    return true;
}

bool CtpUpgrade(const std::string& ImagePath, const std::string& IP, int Port, const std::string& User,
                const std::string& Password, std::string& Message) {
    auto fail = [&](const char* key) {
        Message = MessageText(key);
        return false;
    };
    {
        TSocketThread a(IP, Port);
        if (!TSocketThread::IsPackageFile(ImagePath) || !TSocketThread::CheckPackageLimits(ImagePath))
            return fail("IDS_UPGRADEFILEFAIL");
        if (a.ConnectCamera() != 0) return fail("IDS_IPCCONNETERR");
        if (a.SendLogin(User, Password) != 0) return fail("IDS_LOGINERROR");
        if (a.SendExit() != 0) return fail("IDS_EXITIPCERR");
        if (a.CloseSocket() != 0) return fail("IDS_CLOSEIPCERROR");
    }
    TPackageFile file(ImagePath);
    unsigned char head[pk2::HeadSize];
    if (file.Read(head, sizeof head) != sizeof head) return fail("IDS_UPGRADEFILEERR");
    int32_t records = pk2::LittleEndian(head + pk2::CountOffset);
    platform::Sleep(ctp::BetweenSessions);
    const char* failed = nullptr;
    bool allSent = false;
    {
        TSocketThread b(IP, Port);
        std::string reply;
        if (b.ConnectCamera() != 0 || b.SendText("CMD 10\r\necho hello", reply) != 0) {
            failed = "IDS_ENTERUPGRADEERR";
        } else {
            allSent = records >= 0;
            for (int32_t i = 0; i < records && allSent; ++i) {
                progress::Report(progress::TStage::Records, i, records);
                allSent = b.SendRecord(file) == 0;
            }
            if (allSent) progress::Report(progress::TStage::Records, records, records);
        }
        b.CloseSocket();
        platform::Sleep(ctp::AfterUpload);
    }
    file.Close();
    if (failed) return fail(failed);
    if (!allSent) return fail("IDS_UPGRADEFILEERR");
    platform::Sleep(ctp::RebootWait);
    int retries = 0;
    {
        TSocketThread c(IP, Port);
        // A connection that is merely under way would count a camera that is still down as
        // back; the check wants the camera to have taken it.
        auto connected = [&] { return c.ConnectCamera() == 0 && c.IsConnected(); };
        while (!connected() && retries < ctp::RebootRetries) {
            platform::Sleep(ctp::RebootRetryPause);
            ++retries;
            c.CreateSocket();
        }
        c.CloseSocket();
        platform::Sleep(ctp::AfterRebootCheck);
    }
    if (retries >= ctp::RebootRetries) return fail("IDS_IPCNOTWORK");
    return true;
}
