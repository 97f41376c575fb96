#include "TestHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

bool SendAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

std::string ReasonFor(int status) {
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

TCanned Answer(int status, const std::string& body, const std::string& extraHeaders, const std::string& reason) {
    TCanned c;
    c.Head = "HTTP/1.1 " + std::to_string(status) + " " + (reason.empty() ? ReasonFor(status) : reason) +
             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" + extraHeaders;
    c.Body = body;
    return c;
}

TCanned Redirect(const std::string& location, int status) {
    return Answer(status, "", "Location: " + location + "\r\n");
}

std::string HeaderOf(const std::string& raw, const std::string& name) {
    size_t end = raw.find("\r\n\r\n");
    size_t pos = raw.find("\r\n");
    while (pos != std::string::npos && pos < end) {
        size_t next = raw.find("\r\n", pos + 2);
        std::string line = raw.substr(pos + 2, next - pos - 2);
        size_t colon = line.find(':');
        if (colon != std::string::npos && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0 &&
            colon == name.size()) {
            size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ') ++v;
            return line.substr(v);
        }
        pos = next;
    }
    return {};
}

std::string BodyOf(const std::string& raw) {
    size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : raw.substr(end + 4);
}

std::string RequestLine(const std::string& raw) { return raw.substr(0, raw.find("\r\n")); }

TTestHttpServer::TTestHttpServer() {
    FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(FListen, 64) != 0)
        throw std::runtime_error("test server cannot listen");
    socklen_t len = sizeof a;
    getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FAcceptor = std::thread([this] { AcceptLoop(); });
}

TTestHttpServer::~TTestHttpServer() { Stop(); }

void TTestHttpServer::Stop() {
    if (FStop.exchange(true)) return;
    FStopped.notify_all();
    if (FAcceptor.joinable()) FAcceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard g(FLock);
        workers.swap(FWorkers);
    }
    for (auto& t : workers) t.join();
    close(FListen);
}

void TTestHttpServer::On(const std::string& path, TCanned answer) {
    std::lock_guard g(FLock);
    FRoutes[path] = std::move(answer);
}

std::vector<std::string> TTestHttpServer::Requests() const {
    std::lock_guard g(FLock);
    return FRequests;
}

size_t TTestHttpServer::RequestCount() const {
    std::lock_guard g(FLock);
    return FRequests.size();
}

size_t TTestHttpServer::CountFor(const std::string& prefix) const {
    std::lock_guard g(FLock);
    size_t n = 0;
    for (const auto& r : FRequests) {
        std::string line = RequestLine(r);
        size_t sp = line.find(' ');
        if (sp != std::string::npos && line.compare(sp + 1, prefix.size(), prefix) == 0) ++n;
    }
    return n;
}

void TTestHttpServer::AcceptLoop() {
    while (!FStop) {
        pollfd p{FListen, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard g(FLock);
        FWorkers.emplace_back([this, fd] { Serve(fd); });
    }
}

void TTestHttpServer::Serve(int fd) {
    std::string raw;
    char buf[65536];
    size_t headEnd = std::string::npos;
    size_t need = 0;
    auto readMore = [&]() -> bool {
        pollfd p{fd, POLLIN, 0};
        while (!FStop) {
            if (poll(&p, 1, 20) > 0) {
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0) return false;
                raw.append(buf, static_cast<size_t>(n));
                return true;
            }
        }
        return false;
    };
    while (headEnd == std::string::npos) {
        if (!readMore()) break;
        headEnd = raw.find("\r\n\r\n");
    }
    TCanned answer = Answer(404, "not found");
    if (headEnd != std::string::npos) {
        std::string line = RequestLine(raw);
        size_t sp = line.find(' ');
        std::string target = sp == std::string::npos ? "" : line.substr(sp + 1, line.find(' ', sp + 1) - sp - 1);
        std::string path = target.substr(0, target.find('?'));
        {
            std::lock_guard g(FLock);
            if (auto it = FRoutes.find(path); it != FRoutes.end()) answer = it->second;
        }
        std::string cl = HeaderOf(raw, "Content-Length");
        need = cl.empty() ? 0 : std::stoul(cl);
        if (answer.ReadBody)
            while (raw.size() - headEnd - 4 < need && readMore()) {
            }
    }
    {
        std::lock_guard g(FLock);
        FRequests.push_back(raw);
    }
    auto wait = [&](int64_t ms) {
        std::unique_lock l(FLock);
        FStopped.wait_for(l, std::chrono::milliseconds(ms), [&] { return FStop.load(); });
    };
    if (answer.Hold) wait(INT32_MAX);
    if (answer.CloseAtOnce || answer.Hold || headEnd == std::string::npos) {
        close(fd);
        return;
    }
    if (answer.DelayMs > 0) wait(answer.DelayMs);
    std::string head = answer.Head;
    int file = -1;
    off_t fileSize = 0;
    if (!answer.File.empty()) {
        file = open(answer.File.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        fstat(file, &st);
        fileSize = st.st_size;
        head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(fileSize) + "\r\nConnection: close\r\n";
    }
    head += "\r\n";
    bool ok = SendAll(fd, head.data(), head.size());
    if (file >= 0) {
        off_t off = 0;
        while (ok && off < fileSize)
            ok = sendfile(fd, file, &off, static_cast<size_t>(fileSize - off)) > 0;
        close(file);
    } else if (answer.TrickleBytes > 0) {
        for (size_t at = 0; ok && at < answer.Body.size() && !FStop; at += answer.TrickleBytes) {
            ok = SendAll(fd, answer.Body.data() + at, std::min(answer.TrickleBytes, answer.Body.size() - at));
            if (answer.TrickleDelayMs > 0) wait(answer.TrickleDelayMs);
        }
    } else {
        SendAll(fd, answer.Body.data(), answer.Body.size());
    }
    shutdown(fd, SHUT_WR);
    // Drain what the client still sends so the close does not turn into a reset.
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 50) > 0 && recv(fd, buf, sizeof buf, 0) > 0) {
    }
    close(fd);
}

} // namespace testsupport
