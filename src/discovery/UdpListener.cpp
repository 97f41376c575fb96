#include "UdpListener.h"

#include "platform/Platform.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

bool TUdpListener::Activate(int port) {
    Deactivate();
    platform::TFd s(platform::OpenSocket(SOCK_DGRAM, false, true));
    if (!s.Valid() || !platform::BindIPv4(s.Get(), "", port)) return false;
    FStop = false;
    auto receiver = std::make_unique<platform::TDatagramReceiver>();
    bool started = receiver->Start(std::move(s), [this](std::vector<platform::TDatagram>& batch) {
        // Abandoned when the listener is stopping: its owner may be going away.
        if (OnReceive)
            platform::Synchronize(
                [&] {
                    for (const platform::TDatagram& d : batch) {
                        if (FStop) return;
                        OnReceive(d.Data, d.FromIP, d.FromPort);
                    }
                },
                &FStop);
    });
    if (!started) return false;
    FReceiver = std::move(receiver);
    FPort = port;
    FActive = true;
    return true;
}

void TUdpListener::Stop() {
    FStop = true;
    if (FReceiver) FReceiver->RequestStop();
}

void TUdpListener::Join() {
    if (FReceiver) FReceiver->Join();
    FReceiver.reset();
    FActive = false;
}

bool TUdpListener::SendTo(const std::string& data, const std::string& ip, int port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (!FReceiver || FReceiver->Fd() < 0 || inet_pton(AF_INET, ip.c_str(), &to.sin_addr) != 1) return false;
    return sendto(FReceiver->Fd(), data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(data.size());
}
