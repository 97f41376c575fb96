#include "CtpSession.h"

#include "platform/DatagramReceiver.h"

#include "CameraGet.h"
#include "CameraIdentity.h"
#include "base/MessageText.h"
#include "base/Progress.h"
#include "platform/Broadcast.h"
#include "platform/Fd.h"
#include "platform/Platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

int32_t LittleEndian(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

bool ReadInt(TPackageFile& f, int32_t& v) {
    unsigned char b[4];
    if (f.Read(b, 4) != 4) return false;
    v = LittleEndian(b);
    return true;
}

void XorPayload(unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        p[i] ^= CtpPayloadKey[i % 8];
}

struct TMdDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

std::string Cut(const std::string& s, size_t n) {
    return s.size() > n ? s.substr(0, n) : s;
}

} // namespace

TPackageFile::TPackageFile(const std::string& path)
    : FFd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)) {}
TPackageFile::~TPackageFile() {
    Close();
}

size_t TPackageFile::Read(void* buf, size_t n) {
    size_t got = 0;
    auto* p = static_cast<unsigned char*>(buf);
    while (FFd.Valid() && got < n) {
        if (FAt == FEnd) {
            if (!FBlock) FBlock = std::make_unique<unsigned char[]>(BlockSize);
            ssize_t r = platform::ReadSome(FFd.Get(), FBlock.get(), BlockSize);
            if (r <= 0) break;
            FAt = 0;
            FEnd = static_cast<size_t>(r);
        }
        size_t k = std::min(n - got, FEnd - FAt);
        std::memcpy(p + got, FBlock.get() + FAt, k);
        FAt += k;
        got += k;
    }
    return got;
}

bool TPackageFile::Skip(int64_t n) {
    if (!FFd.Valid() || n < 0) return false;
    if (static_cast<uint64_t>(n) <= FEnd - FAt) {
        FAt += static_cast<size_t>(n);
        return true;
    }
    // The file's offset stands at the end of the block: what is left of the block is skipped too.
    n -= static_cast<int64_t>(FEnd - FAt);
    FAt = FEnd = 0;
    return lseek(FFd.Get(), n, SEEK_CUR) >= 0;
}

void TPackageFile::Close() {
    FFd.Reset();
    FAt = FEnd = 0;
}

void ApplyCtpSearchLine(const std::string& line, TCtpSearchRecord& r) {
    // The MAC is read last, so that a line of another key never reads as one.
    static const char* keys[] = {"-name", "-sn", "-portctp", "-ip",      "-netmask", "-mdns",
                                 "-sdns", "-gw", "-dhcpen",  "-version", "-mac"};
    int which = -1;
    for (int i = 0; i < 11 && which < 0; ++i)
        if (line.find(keys[i]) != std::string::npos) which = i;
    if (which < 0) return;
    size_t blank = line.find(' ');
    std::string value = blank == std::string::npos ? line : line.substr(blank + 1);
    value.resize(std::min(value.size(), value.find('\0'))); // a text ends at its first zero byte
    switch (which) {
    case 0:
        r.DevName = Cut(value, 50);
        break;
    case 1:
        r.DeviceID = Cut(value, 40);
        break;
    case 2: {
        char* end = nullptr;
        long v = std::strtol(value.c_str(), &end, 10);
        // A port outside 1 to 65535 would wrap where it is used; it reads as not a number.
        r.CtpPort =
            (!value.empty() && end && *end == '\0' && v >= 1 && v <= 65535) ? static_cast<int>(v) : 81;
        break;
    }
    case 3:
        r.IP = Cut(value, 16);
        break;
    case 4:
        r.Mask = Cut(value, 16);
        break;
    case 5:
        r.DNS1 = Cut(value, 16);
        break;
    case 6:
        r.DNS2 = Cut(value, 16);
        break;
    case 7:
        r.Gateway = Cut(value, 16);
        break;
    case 8:
        r.DhcpEnabled = value != "0";
        break;
    case 9: {
        // "-version v 47.2.3.18 build": drop the key and the next word; the version runs to and
        // includes the next blank, and without one there is none.
        std::string v = line;
        for (int k = 0; k < 2; ++k) {
            size_t b = v.find(' ');
            v = b == std::string::npos ? std::string() : v.substr(b + 1);
        }
        size_t b = v.find(' ');
        r.Version = b == std::string::npos ? std::string() : Cut(v.substr(0, b + 1), 48);
        break;
    }
    case 10:
        r.Mac = Cut(value, 17);
        break;
    }
}

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

bool ParseCtpSearchReply(const std::string& d, TCtpSearchRecord& r) {
    if (d.empty() || d.compare(0, 5, "REPLY") != 0) return false;
    r = TCtpSearchRecord{};
    size_t pos = 0;
    while (pos <= d.size()) {
        size_t eol = d.find("\r\n", pos);
        ApplyCtpSearchLine(d.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos), r);
        if (eol == std::string::npos) break;
        pos = eol + 2;
    }
    return true;
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
    TPackageFile f(FileName);
    unsigned char head[pk2::HeadSize];
    if (!f.IsOpen() || f.Read(head, sizeof head) != sizeof head) return false;
    return std::memcmp(head, "PK2", 4) == 0;
}

bool TSocketThread::CheckPackageLimits(const std::string& FileName) {
    struct stat st {};
    if (stat(FileName.c_str(), &st) != 0) return false;
    TPackageFile f(FileName);
    unsigned char head[pk2::HeadSize];
    if (f.Read(head, sizeof head) != sizeof head) return false;
    int64_t size = st.st_size, at = pk2::HeadSize;
    int32_t records = LittleEndian(head + pk2::CountOffset);
    for (int32_t i = 0; i < records; ++i) {
        unsigned char rec[pk2::RecordHeadSize];
        if (f.Read(rec, sizeof rec) != sizeof rec) return false;
        at += pk2::RecordHeadSize;
        int32_t L = LittleEndian(rec + pk2::LengthOffset);
        if (L < 0 || L > size - at) return false;
        if (std::memcmp(rec, "FILE", 4) == 0) {
            int32_t N, S;
            if (L < 8 || !ReadInt(f, N) || N < 0 || N > pk2::MaxNameLength || N > L - 8) return false;
            std::string name(static_cast<size_t>(N), '\0');
            if (f.Read(name.data(), name.size()) != name.size() || name.find('\0') != std::string::npos)
                return false;
            if (!ReadInt(f, S) || S < 0 || static_cast<int64_t>(S) != static_cast<int64_t>(L) - 8 - N)
                return false;
            if (!f.Skip(S)) return false;
        } else if (std::memcmp(rec, "CMD ", 4) == 0) {
            if (std::string("CMD " + std::to_string(L) + "\r\n").size() + static_cast<size_t>(L) > SendSize)
                return false;
            if (!f.Skip(L)) return false;
        } else if (!f.Skip(L)) {
            return false;
        }
        at += L;
    }
    return true;
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
    int32_t L = LittleEndian(rec + pk2::LengthOffset);
    std::string reply;
    if (std::memcmp(rec, "FILE", 4) == 0) {
        int32_t N = 0, S = 0;
        if (!ReadInt(File, N) || N < 0 || N > pk2::MaxNameLength) return -1;
        std::string name(static_cast<size_t>(N), '\0');
        if (File.Read(name.data(), name.size()) != name.size() || !ReadInt(File, S)) return -1;
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
        std::string head = "CMD " + std::to_string(L) + "\r\n";
        if (L < 0 || head.size() + static_cast<size_t>(L) > SendSize) return -1;
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
    // Every search of this process binds the one search port, where only one socket of those
    // sharing it receives each answer: sessions side by side search in turn.
    static std::mutex searching;
    std::lock_guard one(searching);
    platform::TFd socket(platform::OpenSocket(SOCK_DGRAM, true, true));
    if (!socket.Valid()) return 0;
    int s = socket.Get();
    platform::AskReceiveBuffer(s, platform::TDatagramReceiver::ReceiveBuffer);
    // A port already taken is no failure: the system then picks the source port.
    (void)platform::BindIPv4(s, "", CtpSearchPort);
    int count = 0;
    bool sent = false;
    static const char search[] = "SEARCH * CTP/1.0\r\nFrom:0.0.0.0\r\n\r\n";
    for (const std::string& target : platform::BroadcastTargets()) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(CtpSearchPort);
        if (inet_pton(AF_INET, target.c_str(), &to.sin_addr) != 1) continue;
        sendto(s, search, sizeof search - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        sent = true;
    }
    if (sent) {
        // The window closes after SearchWait without an answer, and after SearchLimit in all, so
        // that a flood of answers cannot keep it open. Both scale as one: the floor of a small
        // time scale would otherwise make the silence wait as long as the whole window.
        int64_t silence = platform::Timeout(ctp::SearchWait);
        auto end = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(silence * (ctp::SearchLimit / ctp::SearchWait));
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            int64_t wait = std::min<int64_t>(silence, left.count());
            if (platform::WaitFd(s, POLLIN, wait) <= 0) break;
            char buf[512];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            TCtpSearchRecord r;
            if (!ParseCtpSearchReply(std::string(buf, static_cast<size_t>(n)), r)) continue;
            // Only a camera speaks for itself: a reply naming another host's address is not that
            // host's version.
            char sender[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
            if (r.IP != sender) continue;
            bool found = !Wanted.empty() && r.IP == Wanted && List.count(r.IP) == 0;
            List.emplace(r.IP, r);
            ++count;
            // The first answer of the camera asked for is the one taken: waiting for the others
            // would change nothing.
            if (found) break;
        }
    }
    return count;
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
    int32_t records = LittleEndian(head + pk2::CountOffset);
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
