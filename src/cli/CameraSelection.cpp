#include "CameraSelection.h"

#include "CliCommon.h"
#include "SearchCommand.h"
#include "app/UpgradeInput.h"
#include "base/Text.h"
#include "discovery/NetHelpers.h"
#include "transport/CameraGet.h"
#include "transport/OnvifSoap.h"
#include "upgrade/OnvifSeries.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
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

namespace {

// Whether a dotted address can be a camera's: not "this network" (0.x.x.x reaches this very
// host), nor multicast, reserved or broadcast.
bool UnicastAddress(const std::string& ip) {
    int first = std::atoi(ip.c_str());
    return first != 0 && first < 224;
}

// Why a standard camera's address is not yet shown to be one; empty when it answered with its
// clock. What is asked is the device service its session would use.
std::string StandardCameraDoubt(const TCamera& c, int64_t timeoutMs) {
    TOnvifUpgrade u;
    u.SetIP(c.IP);
    u.SetPort(PortNumber(c.Port));
    std::string url = u.ServiceURL();
    if (onvif::UrlHost(url) != c.IP) return "its device service is not at its address";
    onvif::TCallResult r = onvif::AskClock(url, timeoutMs);
    if (!r.Reached) return "its address did not answer as a standard camera";
    std::chrono::system_clock::time_point clock;
    if (r.Status < 200 || r.Status > 299 || !r.Answer.Parsed || r.Answer.Fault ||
        !onvif::CameraUtcTime(r.Answer, clock))
        return "its address answered, but not as a standard camera";
    return {};
}

} // namespace

std::vector<TCamera> TrustedCameras(const std::vector<TDevInfo>& rows, const std::string& wanted,
                                    const std::string& user, const std::string& password,
                                    std::vector<TLeftOut>& leftOut, std::vector<TAwaiting>& awaiting) {
    std::vector<TCamera> cameras;
    for (const TDevInfo& d : rows) {
        const char* series = SeriesName(d.DevType);
        // The search library names no sender: such a row's address is asked before any login.
        bool awaits = series && series[0] == 'O' && d.Source.empty();
        std::string reason;
        if (!series)
            reason = "no series of this tool";
        else if (!SeriesWanted(wanted, series))
            continue;
        else if (!TTools_Net::IsDottedIPv4(d.IP))
            reason = "its address is no dotted IPv4 address";
        else if (d.Source.empty() && !awaits)
            reason = "its sender is unknown";
        else if (!awaits && d.IP != d.Source)
            reason = "it names an address it was not sent from";
        else if (d.HttpPort < 1)
            reason = "its port is outside 1 to 65535";
        else if (!UnicastAddress(d.IP))
            reason = "its address is no unicast address";
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
        if (c.Series != 'O') c.Mac = RowMac(d);
        c.DeviceName = d.DevName;
        if (awaits)
            awaiting.push_back({d, c});
        else
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
        c.Mac = MacText(standard->InterfaceMac(IdentityTimeout));
    } catch (...) {
        // The report goes out without it.
    }
}

std::vector<TCamera> OneSessionPerCamera(const std::vector<TCamera>& cameras,
                                         std::vector<TAwaiting>& awaiting, std::vector<std::string>& merged) {
    // The awaiting rows come last, so a row that answered for itself is the one that stays.
    std::vector<TCamera> out;
    std::vector<TAwaiting> stay;
    std::vector<const TCamera*> kept;
    std::map<std::string, size_t> byAddress, byMac;
    for (size_t i = 0; i < cameras.size() + awaiting.size(); ++i) {
        const TCamera& c = i < cameras.size() ? cameras[i] : awaiting[i - cameras.size()].Camera;
        std::string address = TrimText(c.IP) + ":" + std::to_string(PortNumber(c.Port));
        std::string mac = MacText(c.Mac);
        const TCamera* same = nullptr;
        const char* why = "the same address and port";
        if (auto a = byAddress.find(address); a != byAddress.end()) {
            same = kept[a->second];
        } else if (auto m = mac.empty() ? byMac.end() : byMac.find(mac); m != byMac.end()) {
            same = kept[m->second];
            why = "the same MAC";
        }
        if (same) {
            std::string keptName = EscapeControls(ValidUtf8(same->Name()));
            merged.push_back(EscapeControls(ValidUtf8(c.Name())) + " (" + c.Series + ") and " + keptName +
                             " (" + same->Series + ") are one camera (" + why + "): one session, as " +
                             keptName);
            continue;
        }
        byAddress[address] = kept.size();
        if (!mac.empty()) byMac[mac] = kept.size();
        kept.push_back(&c);
        if (i < cameras.size())
            out.push_back(c);
        else
            stay.push_back(awaiting[i - cameras.size()]);
    }
    awaiting = std::move(stay);
    return out;
}

std::vector<TCamera> ConfirmStandardCameras(const std::vector<TAwaiting>& awaiting,
                                            std::vector<TLeftOut>& leftOut, size_t jobs, int64_t timeoutMs,
                                            const std::atomic<bool>* stop) {
    std::vector<std::string> doubt(awaiting.size());
    InParallel(awaiting.size(), jobs, [&](size_t i) {
        doubt[i] = stop && stop->load() ? "the batch stopped before its address was asked"
                                        : StandardCameraDoubt(awaiting[i].Camera, timeoutMs);
    });
    std::vector<TCamera> confirmed;
    for (size_t i = 0; i < awaiting.size(); ++i)
        if (doubt[i].empty())
            confirmed.push_back(awaiting[i].Camera);
        else
            leftOut.push_back({awaiting[i].Row, doubt[i]});
    return confirmed;
}
