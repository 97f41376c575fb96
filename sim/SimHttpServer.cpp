#include "SimHttpServer.h"

#include "platform/Platform.h"
#include "transport/CameraGet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace sim {

namespace {

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string PercentDecode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && Hex(s[i + 1]) >= 0 && Hex(s[i + 2]) >= 0) {
            out += static_cast<char>(Hex(s[i + 1]) * 16 + Hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

namespace {

bool ParseHead(const std::string& head, THttpRequest& r) {
    size_t eol = head.find("\r\n");
    std::string line = head.substr(0, eol);
    size_t a = line.find(' '), b = line.rfind(' ');
    if (a == std::string::npos || b == a) return false;
    r.Method = line.substr(0, a);
    r.Target = line.substr(a + 1, b - a - 1);
    r.Version = line.substr(b + 1);
    size_t q = r.Target.find('?');
    r.Path = r.Target.substr(0, q);
    r.Query = q == std::string::npos ? "" : r.Target.substr(q + 1);
    size_t pos = eol + 2;
    while (pos < head.size()) {
        size_t next = head.find("\r\n", pos);
        if (next == std::string::npos || next == pos) break;
        std::string h = head.substr(pos, next - pos);
        size_t colon = h.find(':');
        if (colon != std::string::npos) {
            size_t v = colon + 1;
            while (v < h.size() && h[v] == ' ')
                ++v;
            r.Headers.emplace_back(h.substr(0, colon), h.substr(v));
        }
        pos = next + 2;
    }
    r.RawHead = head;
    return true;
}

} // namespace

std::string THttpRequest::Header(std::string_view name) const {
    for (const auto& [k, v] : Headers)
        if (LowerCase(k) == LowerCase(std::string(name))) return v;
    return {};
}

bool THttpRequest::HasHeader(std::string_view name) const {
    for (const auto& kv : Headers)
        if (LowerCase(kv.first) == LowerCase(std::string(name))) return true;
    return false;
}

std::string THttpRequest::QueryValue(std::string_view name, bool* found) const {
    size_t pos = 0;
    while (pos <= Query.size()) {
        size_t amp = Query.find('&', pos);
        std::string_view part(Query.data() + pos, (amp == std::string::npos ? Query.size() : amp) - pos);
        size_t eq = part.find('=');
        if (PercentDecode(part.substr(0, eq)) == name) {
            if (found) *found = true;
            return eq == std::string_view::npos ? std::string() : PercentDecode(part.substr(eq + 1));
        }
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    if (found) *found = false;
    return {};
}

int64_t THttpRequest::ContentLength() const {
    std::string v = Header("Content-Length");
    if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos || v.size() > 18) return -1;
    return std::stoll(v);
}

TConnection::TConnection(int fd, const std::atomic<bool>& stop, std::string pending)
    : FFd(fd), FStop(stop), FPending(std::move(pending)) {
    // Receives wait in the kernel, a stop check at a time: one call per message, not a poll and
    // a receive, so that the simulated camera answers as fast as the line allows.
    timeval tv{0, StopCheckMs * 1000};
    if (FFd >= 0) setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

TConnection::~TConnection() {
    Close();
}

void TConnection::Unread(std::string_view data) {
    FPending.insert(0, data);
}

size_t TConnection::Read(char* buf, size_t n, int64_t idleMs) {
    if (!FPending.empty()) {
        size_t k = std::min(n, FPending.size());
        std::copy_n(FPending.data(), k, buf);
        FPending.erase(0, k);
        return k;
    }
    if (FFd < 0) return 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleMs);
    while (!FStop) {
        // Read ahead, so that line protocols do not cost a system call per byte.
        char ahead[65536];
        ssize_t got = recv(FFd, n >= sizeof ahead ? buf : ahead, n >= sizeof ahead ? n : sizeof ahead, 0);
        if (got == 0) return 0;
        if (got < 0) {
            if ((errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() > deadline)
                return 0;
            continue;
        }
        if (n >= sizeof ahead) return static_cast<size_t>(got);
        size_t k = std::min(n, static_cast<size_t>(got));
        std::copy_n(ahead, k, buf);
        FPending.assign(ahead + k, static_cast<size_t>(got) - k);
        return k;
    }
    return 0;
}

bool TConnection::ReadLine(std::string& line, size_t maxBytes, int64_t idleMs) {
    line.clear();
    // Taken from what was read ahead a line at a time, not a byte at a time.
    while (line.size() < maxBytes) {
        if (FPending.empty()) {
            char c;
            if (Read(&c, 1, idleMs) != 1) return !line.empty();
            FPending.insert(0, 1, c);
        }
        size_t room = maxBytes - line.size();
        size_t eol = FPending.find('\n');
        if (eol != std::string::npos && eol < room) {
            line.append(FPending, 0, eol);
            FPending.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        size_t k = std::min(room, FPending.size());
        line.append(FPending, 0, k);
        FPending.erase(0, k);
    }
    return true;
}

bool TConnection::ReadExactly(std::string& out, size_t n, int64_t idleMs) {
    out.clear();
    char buf[65536];
    while (out.size() < n) {
        size_t got = Read(buf, std::min(sizeof buf, n - out.size()), idleMs);
        if (got == 0) return false;
        out.append(buf, got);
    }
    return true;
}

bool TConnection::Send(std::string_view data) {
    while (!data.empty() && FFd >= 0) {
        ssize_t w = send(FFd, data.data(), data.size(), MSG_NOSIGNAL);
        if (w <= 0) return false;
        data.remove_prefix(static_cast<size_t>(w));
    }
    return data.empty();
}

bool TConnection::SendFile(const std::string& path) {
    int f = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f < 0) return false;
    struct stat st {};
    fstat(f, &st);
    off_t off = 0;
    bool ok = true;
    while (ok && off < st.st_size && !FStop)
        ok = sendfile(FFd, f, &off, static_cast<size_t>(std::min<off_t>(st.st_size - off, 1 << 24))) > 0;
    close(f);
    return ok && off == st.st_size;
}

bool TConnection::Wait(int64_t ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!FStop) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(20)));
    }
    return false;
}

void TConnection::Close(bool reset) {
    if (FFd < 0) return;
    if (reset) {
        linger l{1, 0};
        setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else {
        shutdown(FFd, SHUT_WR);
        // Take what the client still sends, briefly, so the close does not turn into a reset.
        char buf[4096];
        pollfd p{FFd, POLLIN, 0};
        for (int i = 0; i < 4 && poll(&p, 1, 25) > 0 && recv(FFd, buf, sizeof buf, 0) > 0; ++i) {
        }
    }
    close(FFd);
    FFd = -1;
}

TWake::TWake() : FFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!FFd.Valid()) throw std::runtime_error("cannot make an event descriptor");
}

void TWake::Signal() {
    // Never read back, so the descriptor stays readable for every later wait.
    uint64_t one = 1;
    (void)!write(FFd.Get(), &one, sizeof one);
}

bool TWake::WaitReadable(int fd, int ms) const {
    pollfd p[2] = {{fd, POLLIN, 0}, {FFd.Get(), POLLIN, 0}};
    int r;
    do
        r = poll(p, 2, ms);
    while (r < 0 && errno == EINTR);
    return r > 0 && !(p[1].revents & POLLIN) && p[0].revents != 0;
}

bool IsLoopback(const std::string& address) {
    in_addr a{};
    return inet_pton(AF_INET, address.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

std::string LoopbackOnly(const std::string& address) {
    if (!IsLoopback(address))
        throw std::runtime_error("refusing to serve on " + address + ": loopback addresses only");
    return address;
}

std::string StatusText(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Unknown";
    }
}

std::string HttpResponse(int status, std::string_view body, std::string_view extraHeaders,
                         std::string_view version) {
    std::string r(version);
    r += " " + std::to_string(status) + " " + StatusText(status) + "\r\n";
    r += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n";
    r += extraHeaders;
    r += "\r\n";
    r += body;
    return r;
}

THttpServer::THttpServer(std::string address, int port) : FAddress(std::move(address)), FPort(port) {
    if (!Listen()) throw std::runtime_error("cannot listen on " + FAddress + ":" + std::to_string(port));
    FAcceptor = std::thread([this] { AcceptLoop(); });
}

THttpServer::~THttpServer() {
    Stop();
}

bool THttpServer::Listen() {
    int fd = platform::OpenSocket(SOCK_STREAM, true);
    if (fd < 0) return false;
    if (!platform::BindIPv4(fd, FAddress, FPort) || listen(fd, 64) != 0) {
        close(fd);
        return false;
    }
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    {
        std::lock_guard g(FLock);
        FPort = ntohs(a.sin_port);
        FListen = fd;
    }
    FIdle.notify_all();
    return true;
}

void THttpServer::OnHttp(THttpHandler handler) {
    std::lock_guard g(FLock);
    FHttp = std::move(handler);
}

void THttpServer::OnLine(TLineMatch match, TLineHandler handler) {
    std::lock_guard g(FLock);
    FLineMatch = std::move(match);
    FLineHandler = std::move(handler);
}

void THttpServer::Pause() {
    // The accept loop closes the socket itself: a socket closed under a thread that polls it
    // stays bound until that poll returns, and the port could not be taken again at once.
    std::unique_lock l(FLock);
    if (FListen < 0) return;
    FPausing = true;
    shutdown(FListen, SHUT_RDWR);
    FIdle.wait(l, [this] { return FListen < 0 || FStop.load(); });
    if (FListen >= 0) {
        close(FListen);
        FListen = -1;
    }
    FPausing = false;
}

bool THttpServer::Resume() {
    if (!Paused()) return true;
    return Listen();
}

bool THttpServer::Paused() const {
    std::lock_guard g(FLock);
    return FListen < 0;
}

void THttpServer::Stop() {
    if (FStop.exchange(true)) return;
    FWake.Signal();
    {
        // Taken so that a paused accept loop cannot miss the flag between its check and its wait.
        std::lock_guard g(FLock);
    }
    FIdle.notify_all();
    if (FAcceptor.joinable()) FAcceptor.join();
    std::unique_lock l(FLock);
    for (int fd : FOpen)
        shutdown(fd, SHUT_RDWR);
    FIdle.wait(l, [this] { return FActive == 0; });
    if (FListen >= 0) close(FListen);
    FListen = -1;
}

void THttpServer::AcceptLoop() {
    while (!FStop) {
        int lfd;
        {
            // A paused (rebooting) camera waits for Resume or Stop.
            std::unique_lock l(FLock);
            FIdle.wait(l, [this] { return FListen >= 0 || FStop.load(); });
            lfd = FListen;
        }
        if (FStop) break;
        // Pause shuts the socket down, which wakes this wait; the second is only a safety net.
        bool ready = FWake.WaitReadable(lfd, 1000);
        {
            std::lock_guard g(FLock);
            if (FPausing && FListen == lfd) {
                close(FListen);
                FListen = -1;
                FIdle.notify_all();
                continue;
            }
        }
        if (!ready) continue;
        int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
            std::lock_guard g(FLock);
            ++FActive;
            FOpen.push_back(fd);
        }
        std::thread([this, fd] {
            Serve(fd);
            std::lock_guard g(FLock);
            FOpen.erase(std::find(FOpen.begin(), FOpen.end(), fd));
            --FActive;
            FIdle.notify_all();
        }).detach();
    }
}

void THttpServer::Serve(int fd) {
    TConnection c(fd, FStop, "");
    // The head: up to its blank line, or the first line of another protocol.
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        size_t got = c.Read(buf, sizeof buf, 10000);
        if (got == 0) return;
        head.append(buf, got);
        size_t eol = head.find("\r\n");
        if (eol != std::string::npos) {
            TLineMatch match;
            TLineHandler handler;
            {
                std::lock_guard g(FLock);
                match = FLineMatch;
                handler = FLineHandler;
            }
            if (match && match(std::string_view(head).substr(0, eol))) {
                c.Unread(head.substr(eol + 2));
                handler(head.substr(0, eol), c);
                return;
            }
        }
    }
    size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos) return;
    THttpRequest r;
    if (!ParseHead(head.substr(0, end + 4), r)) {
        c.Send(HttpResponse(400, "bad request"));
        return;
    }
    THttpHandler handler;
    {
        std::lock_guard g(FLock);
        handler = FHttp;
    }
    c.Unread(head.substr(end + 4));
    if (handler)
        handler(r, c);
    else
        c.Send(HttpResponse(404, "not found"));
}

} // namespace sim
