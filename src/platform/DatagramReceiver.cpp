#include "DatagramReceiver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace platform {

void AskReceiveBuffer(int fd, int bytes) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

TDatagramReceiver::~TDatagramReceiver() {
    RequestStop();
    Join();
}

bool TDatagramReceiver::Start(TFd socket, THandler handler, TLimits limits) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    FWakeRead.Reset(pipeFds[0]);
    FWakeWrite.Reset(pipeFds[1]);
    FSocket = std::move(socket);
    AskReceiveBuffer(FSocket.Get(), ReceiveBuffer);
    FHandler = std::move(handler);
    FLimits = limits;
    try {
        FReader = std::thread([this] { Read(); });
        FHandOver = std::thread([this] { HandOver(); });
    } catch (const std::system_error&) {
        RequestStop();
        Join();
        return false;
    }
    std::unique_lock g(FLock);
    FReady.wait(g, [this] { return FReading || FReadingEnded; });
    return true;
}

void TDatagramReceiver::RequestStop() {
    {
        std::lock_guard g(FLock);
        FStop = true;
    }
    FReady.notify_all();
    if (FWakeWrite.Valid()) (void)!write(FWakeWrite.Get(), "x", 1);
}

void TDatagramReceiver::Join() {
    if (FReader.joinable()) FReader.join();
    if (FHandOver.joinable()) FHandOver.join();
    FSocket.Reset();
    FDone = true;
}

void TDatagramReceiver::Read() {
    using TClock = std::chrono::steady_clock;
    const auto end = TClock::now() + std::chrono::milliseconds(FLimits.LifeMs);
    int idle = 0;
    size_t received = 0;
    char buf[MaxDatagram];
    pollfd p[2] = {{FSocket.Get(), POLLIN, 0}, {FWakeRead.Get(), POLLIN, 0}};
    {
        std::lock_guard g(FLock);
        FReading = true;
    }
    FReady.notify_all();
    bool more = true;
    while (more && !FStop) {
        int wait = -1;
        if (FLimits.IdleWaitMs > 0) wait = static_cast<int>(FLimits.IdleWaitMs);
        if (FLimits.LifeMs > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
            if (left <= 0) break;
            if (wait < 0 || left < wait) wait = static_cast<int>(left);
        }
        int r = poll(p, 2, wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p[1].revents) break;
        if (r == 0) {
            if (FLimits.LifeMs > 0 && TClock::now() >= end) break;
            if (FLimits.MaxIdleWaits > 0 && ++idle >= FLimits.MaxIdleWaits) break;
            continue;
        }
        // Everything the kernel holds, at once: the queue, not the socket, absorbs a slow hand-over.
        std::vector<TDatagram> got;
        for (;;) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(FSocket.Get(), buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (static_cast<size_t>(n) > sizeof buf) continue; // longer than the buffer: discarded whole
            char ip[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
            got.push_back({std::string(buf, static_cast<size_t>(n)), ip, ntohs(from.sin_port)});
            if (FLimits.MaxDatagrams > 0 && ++received >= FLimits.MaxDatagrams) {
                more = false;
                break;
            }
        }
        if (got.empty()) continue;
        {
            std::lock_guard g(FLock);
            for (TDatagram& d : got) {
                if (FQueue.size() >= MaxQueued) {
                    ++FDropped;
                    continue;
                }
                FQueue.push_back(std::move(d));
            }
        }
        FReady.notify_all();
    }
    {
        std::lock_guard g(FLock);
        FReadingEnded = true;
    }
    FReady.notify_all();
}

void TDatagramReceiver::HandOver() {
    std::vector<TDatagram> batch;
    for (;;) {
        {
            std::unique_lock g(FLock);
            FReady.wait(g, [this] { return FStop || !FQueue.empty() || FReadingEnded; });
            if (FStop || (FQueue.empty() && FReadingEnded)) break;
            batch.assign(std::make_move_iterator(FQueue.begin()), std::make_move_iterator(FQueue.end()));
            FQueue.clear();
        }
        if (FHandler) FHandler(batch);
        batch.clear();
    }
    // Ended by its limits: the owner may now join it (which closes the socket and frees its port).
    if (!FStop) FDone = true;
}

} // namespace platform
