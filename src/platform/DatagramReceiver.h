// A UDP socket read on a thread of its own into a bounded queue, and the queued datagrams handed
// on in batches from a second thread. A slow consumer then never keeps the socket unread, so the
// kernel does not drop answers while a hand-over waits; and the socket asks for a large receive
// buffer for the bursts of a busy network.
#pragma once

#include "Fd.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

struct TDatagram {
    std::string Data;
    std::string FromIP;
    int FromPort = 0;
};

// Asks for a receive buffer of bytes (the kernel may grant less: net.core.rmem_max).
void AskReceiveBuffer(int fd, int bytes);

// A receiver ends its reading by itself after MaxIdleWaits waits of IdleWaitMs without a
// datagram, after LifeMs in all, or after MaxDatagrams datagrams (0: no such limit).
struct TReceiveLimits {
    int64_t IdleWaitMs = 0;
    int MaxIdleWaits = 0;
    int64_t LifeMs = 0;
    size_t MaxDatagrams = 0;
};

class TDatagramReceiver {
  public:
    static constexpr size_t MaxDatagram = 1024;   // longer ones are discarded whole
    static constexpr size_t MaxQueued = 8192;     // datagrams waiting for their hand-over
    static constexpr int ReceiveBuffer = 4 << 20; // asked of the kernel for every socket

    using TLimits = TReceiveLimits;
    using THandler = std::function<void(std::vector<TDatagram>& batch)>;

    TDatagramReceiver() = default;
    ~TDatagramReceiver();
    TDatagramReceiver(const TDatagramReceiver&) = delete;
    TDatagramReceiver& operator=(const TDatagramReceiver&) = delete;

    // Takes the socket and starts both threads; returns once the reader is reading, so that an
    // answer to a request sent afterwards never waits for a thread that is still starting. False
    // (socket closed) when a thread cannot start.
    bool Start(TFd socket, THandler handler, TLimits limits = TLimits());
    // Wakes both threads and returns at once; nothing is handed on afterwards.
    void RequestStop();
    // Waits for both threads and closes the socket.
    void Join();
    // Both threads ended (by the limits or a stop).
    bool Done() const { return FDone; }
    // The socket, for sending from it while the receiver runs; -1 when none.
    int Fd() const { return FSocket.Get(); }
    // Datagrams dropped because the queue was full.
    size_t Dropped() const { return FDropped; }

  private:
    void Read();
    void HandOver();

    TFd FSocket;
    TFd FWakeRead, FWakeWrite;
    THandler FHandler;
    TLimits FLimits;
    std::mutex FLock;
    std::condition_variable FReady;
    std::deque<TDatagram> FQueue;
    bool FReading = false;
    bool FReadingEnded = false;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FDone{false};
    std::atomic<size_t> FDropped{0};
    std::thread FReader, FHandOver;
};

} // namespace platform
