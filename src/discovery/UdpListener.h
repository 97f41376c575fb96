// A UDP listener: one socket bound on all local addresses, broadcast on, drained into a queue of
// its own, whose datagrams (at most 1024 bytes each) go to the main thread in batches through
// platform::Synchronize.
#pragma once

#include "platform/DatagramReceiver.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// Where a search datagram leaves from: a listener's socket (so that answers come back to it), or
// a test's stand-in.
class IDatagramPort {
  public:
    virtual ~IDatagramPort() = default;
    virtual bool SendTo(const std::string& data, const std::string& ip, int port) = 0;
};

class TUdpListener : public IDatagramPort {
  public:
    static constexpr size_t MaxDatagram = 1024;
    using TReceive = std::function<void(const std::string& data, const std::string& fromIP, int fromPort)>;

    TUdpListener() = default;
    ~TUdpListener() { Deactivate(); }
    TUdpListener(const TUdpListener&) = delete;
    TUdpListener& operator=(const TUdpListener&) = delete;

    TReceive OnReceive;
    // Binds port on all local addresses and starts receiving; false when the port is taken.
    bool Activate(int port);
    // Stop, then Join: a search stops all its listeners first, then waits for them together.
    void Stop();
    void Join();
    void Deactivate() {
        Stop();
        Join();
    }
    bool Active() const { return FActive; }
    int Port() const { return FPort; }
    // Sends from the listener's own socket (the replies then come back to it).
    bool SendTo(const std::string& data, const std::string& ip, int port) override;

  private:
    std::unique_ptr<platform::TDatagramReceiver> FReceiver;
    int FPort = 0;
    bool FActive = false;
    std::atomic<bool> FStop{false};
};
