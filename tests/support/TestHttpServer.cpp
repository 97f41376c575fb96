#include "TestHttpServer.h"

#include <strings.h>
#include <sys/stat.h>

namespace testsupport {

TCanned Answer(int status, const std::string& body, const std::string& extraHeaders,
               const std::string& reason) {
    TCanned c;
    c.Head =
        "HTTP/1.1 " + std::to_string(status) + " " + (reason.empty() ? sim::StatusText(status) : reason) +
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
            while (v < line.size() && line[v] == ' ')
                ++v;
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

std::string RequestLine(const std::string& raw) {
    return raw.substr(0, raw.find("\r\n"));
}

TTestHttpServer::TTestHttpServer(const std::string& address, int port) : FServer(address, port) {
    FServer.OnHttp([this](const sim::THttpRequest& r, sim::TConnection& c) { Serve(r, c); });
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

void TTestHttpServer::Serve(const sim::THttpRequest& request, sim::TConnection& c) {
    TCanned answer = Answer(404, "not found");
    {
        std::lock_guard g(FLock);
        if (auto it = FRoutes.find(request.Path); it != FRoutes.end()) answer = it->second;
    }
    std::string raw = request.RawHead, body;
    int64_t length = request.ContentLength();
    if (answer.ReadBody && length > 0) c.ReadExactly(body, static_cast<size_t>(length), 5000);
    raw += body;
    {
        std::lock_guard g(FLock);
        FRequests.push_back(raw);
    }
    if (answer.Hold) {
        while (c.Wait(1000)) {
        }
        return;
    }
    if (answer.CloseAtOnce) {
        c.Close(true);
        return;
    }
    if (answer.DelayMs > 0 && !c.Wait(answer.DelayMs)) return;
    if (!answer.File.empty()) {
        struct stat st {};
        stat(answer.File.c_str(), &st);
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(st.st_size) +
               "\r\nConnection: close\r\n\r\n");
        c.SendFile(answer.File);
        return;
    }
    if (!answer.NoHead && !c.Send(answer.Head + "\r\n")) return;
    if (answer.TrickleBytes == 0) {
        c.Send(answer.Body);
        return;
    }
    for (size_t at = 0; at < answer.Body.size(); at += answer.TrickleBytes) {
        if (!c.Send(std::string_view(answer.Body).substr(at, answer.TrickleBytes))) return;
        if (answer.TrickleDelayMs > 0 && !c.Wait(answer.TrickleDelayMs)) return;
    }
}

} // namespace testsupport
