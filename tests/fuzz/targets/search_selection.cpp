// What a batch takes from search replies: addresses, senders, ports and MACs as the network gave
// them. Each input is cut at newlines into rows of "address|sender|port|mac|type".
#include "cli/CameraSelection.h"
#include "discovery/NetHelpers.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& text, char at) {
    std::vector<std::string> out(1);
    for (char c : text)
        if (c == at)
            out.emplace_back();
        else
            out.back() += c;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<TDevInfo> rows;
    for (const std::string& line : Split(text, '\n')) {
        std::vector<std::string> f = Split(line, '|');
        f.resize(5);
        TDevInfo d;
        d.IP = f[0];
        d.Source = f[1];
        d.HttpPort = static_cast<uint16_t>(std::strtoul(f[2].c_str(), nullptr, 10));
        d.MAC = f[3];
        d.MACHex = NormalizeMac(f[3]);
        d.DevType = static_cast<int32_t>(std::strtol(f[4].c_str(), nullptr, 10));
        // A dotted address is one that the system's own parser reads the same way.
        in_addr a{};
        char back[INET_ADDRSTRLEN] = {};
        if (TTools_Net::IsDottedIPv4(d.IP) && (inet_pton(AF_INET, d.IP.c_str(), &a) != 1 ||
                                               !inet_ntop(AF_INET, &a, back, sizeof back) || d.IP != back))
            std::abort();
        rows.push_back(d);
    }
    std::vector<TLeftOut> leftOut;
    std::vector<TAwaiting> awaiting;
    std::vector<TCamera> cams = TrustedCameras(rows, "E,F,H,T,C,ONVIF", "admin", "pw", leftOut, awaiting);
    if (cams.size() + leftOut.size() + awaiting.size() != rows.size()) std::abort();
    for (const TAwaiting& a : awaiting)
        if (a.Camera.Series != 'O' || !a.Row.Source.empty()) std::abort();
    std::vector<TCamera> all = cams;
    for (const TAwaiting& a : awaiting)
        all.push_back(a.Camera);
    for (const TCamera& c : all)
        if (!TTools_Net::IsDottedIPv4(c.IP) || c.Port == "0" || c.IP.rfind("0.", 0) == 0) std::abort();
    std::vector<std::string> merged;
    std::vector<TCamera> one = OneSessionPerCamera(cams, awaiting, merged);
    if (one.size() + awaiting.size() + merged.size() != all.size() || one.size() > cams.size()) std::abort();
    return 0;
}
