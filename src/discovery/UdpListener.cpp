#include "UdpListener.h"

#include "platform/Platform.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool TUdpListener::Activate(int port) {
    Deactivate();
    platform::TFd s(platform::OpenSocket(SOCK_DGRAM, false, true));
    if (!s.Valid() || !platform::BindIPv4(s.Get(), "", port)) return false;
    FSocket = std::move(s);
    FPort = port;
    FStop = false;
    FThread = std::thread([this] { Run(); });
    return true;
}

void TUdpListener::Deactivate() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
    FSocket.Reset();
}

bool TUdpListener::SendTo(const std::string& data, const std::string& ip, int port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (!FSocket.Valid() || inet_pton(AF_INET, ip.c_str(), &to.sin_addr) != 1) return false;
    return sendto(FSocket.Get(), data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(data.size());
}

void TUdpListener::Run() {
    char buf[MaxDatagram];
    while (!FStop) {
        if (platform::WaitFd(FSocket.Get(), POLLIN, 50) <= 0) continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        // MSG_TRUNC gives the datagram's real length: a longer one is discarded whole, never cut.
        ssize_t n =
            recvfrom(FSocket.Get(), buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0 || static_cast<size_t>(n) > sizeof buf) continue;
        char ip[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
        std::string data(buf, static_cast<size_t>(n));
        std::string fromIP = ip;
        int fromPort = ntohs(from.sin_port);
        // Abandoned when the listener is stopping: its owner may be going away.
        if (OnReceive)
            platform::Synchronize(
                [&] {
                    if (!FStop) OnReceive(data, fromIP, fromPort);
                },
                &FStop);
    }
}
