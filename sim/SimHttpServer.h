// A small TCP server that speaks enough HTTP/1.0 and 1.1 for the simulated cameras and the
// firmware server, and hands other line protocols on the same port to their own handler. Every
// byte it sends is the handler's own, so a camera can answer exactly as a real one does, or
// misbehave on purpose (stall, close half-way, never answer).
#pragma once

#include "platform/Fd.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace sim {

struct THttpRequest {
    std::string Method, Target, Path, Query, Version;
    std::string RawHead; // request line and header lines with their CR LF, and the blank line
    std::vector<std::pair<std::string, std::string>> Headers;

    std::string Header(std::string_view name) const; // "" if missing; name without regard to case
    bool HasHeader(std::string_view name) const;
    // The value of a query parameter, percent-decoded; nullopt-like: found reports presence.
    std::string QueryValue(std::string_view name, bool* found = nullptr) const;
    int64_t ContentLength() const; // -1 without a valid Content-Length
};

class TConnection {
  public:
    // How often a receive that waits looks at the stop flag, in ms.
    static constexpr int StopCheckMs = 20;

    TConnection(int fd, const std::atomic<bool>& stop, std::string pending);
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Up to n bytes; 0 when the peer closed, the server stops or nothing came for idleMs.
    size_t Read(char* buf, size_t n, int64_t idleMs = 30000);
    // One line without its line end (LF or CR LF); false at the end of the stream.
    bool ReadLine(std::string& line, size_t maxBytes = 8192, int64_t idleMs = 30000);
    // Exactly n bytes, or false.
    bool ReadExactly(std::string& out, size_t n, int64_t idleMs = 30000);
    // Gives bytes back, to be read again before anything new from the socket.
    void Unread(std::string_view data);
    bool Send(std::string_view data);
    bool SendFile(const std::string& path);
    // Waits ms (unscaled here; callers scale), returns false early when the server stops.
    bool Wait(int64_t ms);
    // Closes at once; with reset the peer sees a connection reset instead of an orderly end.
    void Close(bool reset = false);
    bool Stopping() const { return FStop.load(); }
    int Fd() const { return FFd; }

  private:
    int FFd;
    const std::atomic<bool>& FStop;
    std::string FPending;
};

// A stop signal a thread waits on beside its socket: a thousand idle cameras then sleep in the
// kernel instead of each waking many times a second to look at a flag, which would take the
// processors from the program under test.
class TWake {
  public:
    TWake();
    // Wakes every waiter, now and later.
    void Signal();
    // True when fd can be read; false once signalled, or when ms pass (a negative ms waits
    // without end).
    bool WaitReadable(int fd, int ms) const;

  private:
    platform::TFd FFd;
};

std::string StatusText(int status);
std::string PercentDecode(std::string_view s);
// 127.0.0.0/8 only: the simulator never answers on a real network.
bool IsLoopback(const std::string& address);
// The address, or std::runtime_error when it is not on loopback.
std::string LoopbackOnly(const std::string& address);
// A complete answer: status line (HTTP/1.1 unless given), Content-Length, Connection: close, the
// extra header lines (each ending CR LF), the blank line and the body.
std::string HttpResponse(int status, std::string_view body, std::string_view extraHeaders = "",
                         std::string_view version = "HTTP/1.1");

class THttpServer {
  public:
    using THttpHandler = std::function<void(const THttpRequest&, TConnection&)>;
    // Another protocol on the same port: Match sees the first line and claims the connection.
    using TLineMatch = std::function<bool(std::string_view firstLine)>;
    using TLineHandler = std::function<void(const std::string& firstLine, TConnection&)>;

    // Binds address:port (port 0 picks one). Throws std::runtime_error when it cannot.
    THttpServer(std::string address, int port);
    ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    const std::string& Address() const { return FAddress; }
    int Port() const { return FPort; }
    void OnHttp(THttpHandler handler);
    void OnLine(TLineMatch match, TLineHandler handler);

    // A rebooting camera: the port refuses connections until Resume.
    void Pause();
    bool Resume();
    bool Paused() const;
    void Stop();

  private:
    bool Listen();
    void AcceptLoop();
    void Serve(int fd);

    std::string FAddress;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    mutable std::mutex FLock;
    std::condition_variable FIdle;
    int FListen = -1;
    bool FPausing = false;
    int FActive = 0;
    THttpHandler FHttp;
    TLineMatch FLineMatch;
    TLineHandler FLineHandler;
    std::vector<int> FOpen;
    TWake FWake;
    std::thread FAcceptor;
};

} // namespace sim
