#include "SessionResult.h"

#include "UpgradeInput.h"
#include "base/Text.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

std::string IsoTime(std::chrono::system_clock::time_point t) {
    std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char head[32];
    std::strftime(head, sizeof head, "%Y-%m-%dT%H:%M:%S", &tm);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    long off = tm.tm_gmtoff / 60;
    char tail[32];
    std::snprintf(tail, sizeof tail, ".%03d%c%02ld:%02ld", static_cast<int>(ms < 0 ? ms + 1000 : ms),
                  off < 0 ? '-' : '+', std::labs(off) / 60, std::labs(off) % 60);
    return std::string(head) + tail;
}

std::string Optional(const std::optional<std::string>& v) {
    return v ? JsonString(*v) : "null";
}

} // namespace

std::string SeriesText(char series) {
    return series == 'O' ? "onvif" : std::string(1, series);
}

std::string SessionJson(const TSessionResult& s, bool withLog) {
    const TSessionReport& r = s.Report;
    std::string out = "{\"camera\": {\"ip\": " + JsonString(s.Camera.IP) +
                      ", \"port\": " + std::to_string(PortNumber(s.Camera.Port)) +
                      ", \"series\": " + JsonString(SeriesText(s.Camera.Series));
    if (s.Camera.Series == 'O')
        out += ", \"manufacturer\": " + JsonString(s.Manufacturer) + ", \"model\": " + JsonString(s.Model);
    if (!s.Camera.Mac.empty()) out += ", \"mac\": " + JsonString(s.Camera.Mac);
    if (!s.Camera.DeviceName.empty()) out += ", \"name\": " + JsonString(s.Camera.DeviceName);
    out += "}";
    out += ", \"firmware\": " + JsonString(s.Firmware);
    out += ", \"outcome\": " + JsonString(r.Outcome);
    out += ", \"key\": " + (r.Key.empty() ? std::string("null") : JsonString(r.Key));
    out += ", \"text\": " + (r.Key.empty() ? std::string("null") : JsonString(r.Text));
    out += ", \"versionBefore\": " + Optional(r.VersionBefore);
    out += ", \"versionOffered\": " + Optional(r.VersionOffered);
    out += ", \"versionAfter\": " + Optional(r.VersionAfter);
    out += ", \"durationMs\": " + std::to_string(r.DurationMs);
    if (!withLog) return out + "}";
    out += ", \"log\": [";
    for (size_t i = 0; i < r.Log.size(); ++i)
        out += std::string(i ? ", " : "") + "{\"time\": " + JsonString(IsoTime(r.Log[i].Time)) +
               ", \"key\": " + JsonString(r.Log[i].Key) + ", \"text\": " + JsonString(r.Log[i].Text) + "}";
    return out + "]}";
}
