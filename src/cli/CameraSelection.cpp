#include "CameraSelection.h"

#include "SearchCommand.h"
#include "app/UpgradeInput.h"
#include "base/Text.h"
#include "discovery/NetHelpers.h"
#include "transport/CameraGet.h"
#include "transport/OnvifSoap.h"
#include "upgrade/OnvifSeries.h"

#include <cctype>
#include <map>

std::vector<std::string> SeriesItems(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string item = TrimText(list.substr(start, comma == std::string::npos ? comma : comma - start));
        for (char& c : item)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!item.empty()) items.push_back(item == "O" ? "ONVIF" : item);
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

bool SeriesWanted(const std::string& wanted, const std::string& series) {
    for (const std::string& item : SeriesItems(wanted))
        if (item == series) return true;
    return false;
}

std::vector<TCamera> TrustedCameras(const std::vector<TDevInfo>& rows, const std::string& wanted,
                                    const std::string& user, const std::string& password,
                                    std::vector<TLeftOut>& leftOut) {
    std::vector<TCamera> cameras;
    for (const TDevInfo& d : rows) {
        const char* series = SeriesName(d.DevType);
        std::string reason;
        if (!series)
            reason = "no series of this tool";
        else if (!SeriesWanted(wanted, series))
            continue;
        else if (!TTools_Net::IsDottedIPv4(d.IP))
            reason = "its address is no dotted IPv4 address";
        else if (d.Source.empty())
            reason = "its sender is unknown";
        else if (d.IP != d.Source)
            reason = "it names an address it was not sent from";
        else if (d.HttpPort < 1)
            reason = "its port is outside 1 to 65535";
        if (!reason.empty()) {
            leftOut.push_back({d, reason});
            continue;
        }
        TCamera c;
        c.IP = d.IP;
        c.Port = std::to_string(d.HttpPort);
        c.Series = series[0];
        c.User = user;
        c.Password = password;
        // A standard camera's row carries a number made from its endpoint in place of a MAC: its
        // report asks the camera for the real one.
        if (c.Series != 'O') c.Mac = d.MACHex.empty() ? NormalizeMac(d.MAC) : d.MACHex;
        c.DeviceName = d.DevName;
        cameras.push_back(c);
    }
    return cameras;
}

std::string MacText(const std::string& text) {
    std::string m = NormalizeMac(TrimText(text));
    if (m.size() != 12 || m.find_first_not_of("0123456789ABCDEF") != std::string::npos || m == "000000000000")
        return {};
    return m;
}

void LearnIdentity(TSessionResult& result, const TCameraIdentity& seen, TUpgradeObject& u) {
    TCamera& c = result.Camera;
    if (c.Mac.empty()) c.Mac = MacText(seen.Mac);
    if (c.DeviceName.empty()) c.DeviceName = UsableName(seen.Name);
    auto* standard = dynamic_cast<TOnvifUpgrade*>(&u);
    // Asked only of a camera that let the session in: one that did not would not say either.
    if (!c.Mac.empty() || !standard || !result.Report.VersionBefore) return;
    try {
        c.Mac = MacText(onvif::InterfaceMac(standard->ServiceURL(), TrimText(c.User), TrimText(c.Password),
                                            standard->ClockOffsetMs(), IdentityTimeout));
    } catch (...) {
        // The report goes out without it.
    }
}

std::vector<TCamera> OneSessionPerCamera(const std::vector<TCamera>& cameras,
                                         std::vector<std::string>& merged) {
    std::vector<TCamera> out;
    std::map<std::string, size_t> byAddress, byMac;
    for (const TCamera& c : cameras) {
        std::string address = TrimText(c.IP) + ":" + std::to_string(PortNumber(c.Port));
        std::string mac = MacText(c.Mac);
        const size_t none = out.size();
        size_t same = none;
        const char* why = "the same address and port";
        if (auto a = byAddress.find(address); a != byAddress.end()) {
            same = a->second;
        } else if (auto m = mac.empty() ? byMac.end() : byMac.find(mac); m != byMac.end()) {
            same = m->second;
            why = "the same MAC";
        }
        if (same != none) {
            const TCamera& kept = out[same];
            std::string keptName = EscapeControls(ValidUtf8(kept.Name()));
            merged.push_back(EscapeControls(ValidUtf8(c.Name())) + " (" + c.Series + ") and " + keptName +
                             " (" + kept.Series + ") are one camera (" + why + "): one session, as " +
                             keptName);
            continue;
        }
        byAddress[address] = out.size();
        if (!mac.empty()) byMac[mac] = out.size();
        out.push_back(c);
    }
    return out;
}
