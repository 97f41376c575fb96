// A small HTTP server on 127.0.0.1 for tests: canned answers per path, redirects, error statuses,
// answers that stall or trickle, and the raw bytes of every request it received.
#pragma once

#include "SimHttpServer.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct TCanned {
    std::string Head;           // status line and header lines, each ending CR LF, without the blank line
    std::string Body;           // sent after the blank line
    std::string File;           // if set, its bytes are the body (Content-Length added)
    int64_t DelayMs = 0;        // wait before the first byte of the answer
    size_t TrickleBytes = 0;    // send the body in pieces of this size...
    int64_t TrickleDelayMs = 0; // ...with this pause between them
    bool Hold = false;          // read the request, then never answer (until the server stops)
    bool CloseAtOnce = false;   // read the request, then close without a byte
    bool ReadBody = true;       // read a Content-Length body before answering
    bool NoHead = false;        // send the body alone, as a server without a status line does
};

// A canned answer with a Content-Length that fits its body.
TCanned Answer(int status, const std::string& body, const std::string& extraHeaders = "",
               const std::string& reason = "");
TCanned Redirect(const std::string& location, int status = 302);

class TTestHttpServer {
  public:
    explicit TTestHttpServer(const std::string& address = "127.0.0.1", int port = 0);
    ~TTestHttpServer() { Stop(); }
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    int Port() const { return FServer.Port(); }
    const std::string& Address() const { return FServer.Address(); }
    std::string Base() const { return "http://" + FServer.Address() + ":" + std::to_string(Port()); }
    std::string Url(const std::string& path) const { return Base() + path; }

    // Answers requests whose target, without its query, is path; unknown paths get 404.
    void On(const std::string& path, TCanned answer);
    std::vector<std::string> Requests() const;
    size_t RequestCount() const;
    // Number of requests whose target starts with the given prefix.
    size_t CountFor(const std::string& prefix) const;
    void Stop() { FServer.Stop(); }

  private:
    void Serve(const sim::THttpRequest& request, sim::TConnection& c);

    mutable std::mutex FLock;
    std::map<std::string, TCanned> FRoutes;
    std::vector<std::string> FRequests;
    sim::THttpServer FServer;
};

// The value of a header line in a raw request ("" if missing), and the request's body.
std::string HeaderOf(const std::string& raw, const std::string& name);
std::string BodyOf(const std::string& raw);
std::string RequestLine(const std::string& raw);

} // namespace testsupport
