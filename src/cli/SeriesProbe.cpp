#include "SeriesProbe.h"

#include "CliCommon.h"
#include "SearchCommand.h"
#include "app/UpgradeInput.h"
#include "base/Text.h"
#include "discovery/LanSearch.h"
#include "platform/Broadcast.h"
#include "platform/Platform.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <iostream>

namespace {

// The camera's IPv4 address in dotted form; a host name is looked up once.
std::string DottedAddress(const std::string& host) {
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) == 1) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return {};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return text;
}

// The best answer so far: one from the camera's own port first, else the first of the address.
const TDevInfo* Answer(TDeviceSearch& engine, const std::string& ip, int port) {
    const TDevInfo* any = nullptr;
    for (size_t i = 0; i < engine.Count(); ++i) {
        const TDevInfo& d = engine.Row(i);
        if (d.IP != ip || !SeriesName(d.DevType)) continue;
        if (d.HttpPort == port) return &d;
        if (!any) any = &d;
    }
    return any;
}

} // namespace

bool FindSeries(TCamera& camera) {
    std::string ip = DottedAddress(TrimText(camera.IP));
    int port = PortNumber(camera.Port);
    bool found = false;
    if (!ip.empty()) {
        platform::SetSearchTarget(ip);
        TLanSearch lan;
        lan.Start();
        platform::Synchronize([&] { lan.Engine().Find(); });
        constexpr int64_t step = 250;
        for (int64_t waited = 0; waited < kSeriesProbeMs && !found; waited += step) {
            platform::Sleep(step, 50);
            platform::Synchronize([&] {
                if (const TDevInfo* d = Answer(lan.Engine(), ip, port); d && d->HttpPort == port)
                    found = true;
            });
        }
        platform::Synchronize([&] {
            if (const TDevInfo* d = Answer(lan.Engine(), ip, port)) {
                camera.Series = SeriesName(d->DevType)[0];
                camera.Mac = RowMac(*d); // as a batch's rows
                camera.DeviceName = d->DevName;
                found = true;
            }
        });
        lan.Shutdown();
        platform::SetSearchTarget("");
    }
    if (!found) {
        std::cerr
            << "ipcam-upgrade-cli: no camera at " << EscapeControls(ValidUtf8(camera.IP))
            << " answered the search within 2 s, so its series is unknown: give --series E, F, H, T or C"
            << std::endl;
        return false;
    }
    if (CliVerbosity() >= 0)
        std::cerr << "ipcam-upgrade-cli: " << EscapeControls(ValidUtf8(camera.Name()))
                  << " answers as series " << camera.Series << std::endl;
    return true;
}
