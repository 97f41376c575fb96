#include "Sessions.h"

#include "CameraSelection.h"
#include "Output.h"
#include "app/UpgradeInput.h"
#include "base/Files.h"
#include "base/Text.h"
#include "lang/Lang.h"
#include "upgrade/OnvifSeries.h"
#include "upgrade/UpgradeFactory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <map>
#include <ostream>

namespace {

int SeriesIndex(char s) {
    static const std::string order = "EFHTCO";
    size_t i = order.find(s);
    return i == std::string::npos ? -1 : static_cast<int>(i);
}

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

const char* const kOutcomes[] = {"upgraded",           "reinstalled",      "unchanged", "up-to-date",
                                 "no-upgrade-offered", "update-available", "cancelled", "failed"};

} // namespace

std::string SeriesText(char series) {
    return series == 'O' ? "onvif" : std::string(1, series);
}

std::vector<int> FirmwareKinds(const std::string& firmware, char series) {
    if (series == 'O') return {1};
    if (firmware == "system") return {1};
    if (firmware == "ui") return {0};
    return {1, 0};
}

TSessionResult RunSession(const TCamera& camera, int kind, const TSessionSettings& settings,
                          const std::function<void(const std::string&)>& log) {
    TSessionResult result{camera, kind == 1 ? "system" : "ui", {}, {}, {}};
    int series = SeriesIndex(camera.Series);
    int port = PortNumber(camera.Port);
    if (const char* key = FailedInputCheck(series, camera.User, camera.IP, port)) {
        std::string text = GetLangStr(key);
        result.Report.Log.push_back({std::chrono::system_clock::now(), key, text});
        result.Report.Key = key;
        result.Report.Text = text;
        log(text);
        return result;
    }
    std::shared_ptr<TUpgradeObject> u = TUpgradeFactory::CreateUpgrade(series, kind);
    if (!u) return result;
    u->SetUser(TrimText(camera.User));
    u->SetPassword(TrimText(camera.Password));
    u->SetIP(TrimText(camera.IP));
    u->SetPort(port);
    u->SetFirmwareServer(settings.FirmwareServer);
    auto thread = TUpgradeThread::Create(u, "", "");
    thread->OnLog = log;
    thread->OnProgress = settings.Progress;
    thread->OnReport = [&](const TSessionReport& r) { result.Report = r; };
    thread->CheckOnly = settings.Check;
    thread->LocalPackage = settings.Package;
    thread->PackageMD5 = settings.MD5;
    thread->PackageSHA256 = settings.SHA256;
    thread->Stop = settings.Stop;
    TIdentityNotes seen;
    thread->Run();
    if (auto* standard = dynamic_cast<TOnvifUpgrade*>(u.get())) {
        result.Manufacturer = standard->GetManufacturer();
        result.Model = standard->GetModel();
    }
    LearnIdentity(result, seen.Seen(), *u);
    return result;
}

bool EndedWell(const TSessionReport& r) {
    return r.Outcome == "upgraded" || r.Outcome == "reinstalled" || r.Outcome == "up-to-date" ||
           r.Outcome == "no-upgrade-offered" || r.Outcome == "update-available";
}

std::string SessionJson(const TSessionResult& s, bool withLog) {
    const TSessionReport& r = s.Report;
    std::string out = "{\"camera\": {\"ip\": " + JsonString(s.Camera.IP) +
                      ", \"port\": " + std::to_string(PortNumber(s.Camera.Port)) +
                      ", \"series\": " + JsonString(SeriesText(s.Camera.Series));
    if (s.Camera.Series == 'O')
        out += ", \"manufacturer\": " + JsonString(ValidUtf8(s.Manufacturer)) +
               ", \"model\": " + JsonString(ValidUtf8(s.Model));
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

void PrintFailure(const TSessionResult& s, std::ostream& out) {
    std::string text = s.Report.Key.empty() ? s.Report.Outcome : s.Report.Text;
    out << EscapeControls(ValidUtf8(s.Camera.Name())) << "  " << LogTimeStamp() << text << std::endl;
}

std::string SummaryJson(const std::vector<TSessionResult>& results) {
    std::map<std::string, int> counts;
    for (const char* o : kOutcomes)
        counts[o] = 0;
    for (const TSessionResult& s : results)
        ++counts[s.Report.Outcome];
    std::string out = "{\"summary\": true, \"sessions\": " + std::to_string(results.size());
    for (const char* o : kOutcomes)
        out += ", " + JsonString(o) + ": " + std::to_string(counts[o]);
    return out + "}";
}

void PrintSummaryTable(const std::vector<TSessionResult>& results, std::ostream& out) {
    std::vector<std::vector<std::string>> cells = {
        {"Camera", "Series", "Firmware", "Outcome", "Before", "Offered", "After", "Time"}};
    auto shown = [](const std::optional<std::string>& v) { return v ? EscapeControls(*v) : "-"; };
    for (const TSessionResult& s : results) {
        char secs[32];
        std::snprintf(secs, sizeof secs, "%.1f s", static_cast<double>(s.Report.DurationMs) / 1000);
        cells.push_back({EscapeControls(s.Camera.Name()), SeriesText(s.Camera.Series), s.Firmware,
                         s.Report.Outcome, shown(s.Report.VersionBefore), shown(s.Report.VersionOffered),
                         shown(s.Report.VersionAfter), secs});
    }
    PrintColumns(cells, out);
    out.flush();
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    if (FileExists(path) && !IsPrivateFile(path)) {
        error = "other users can read the password file " + path + ": make it private (chmod 600)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || (!std::getline(in, line) && !in.eof())) {
        error = "cannot read the password file " + path;
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    password = line;
    return true;
}

bool IsPrivateFile(const std::string& path) {
    struct stat st {};
    bool known = path == "-" ? fstat(STDIN_FILENO, &st) == 0 : stat(path.c_str(), &st) == 0;
    if (!known) return false;
    // What comes through a pipe or a terminal is read by this process alone.
    if (path == "-" && !S_ISREG(st.st_mode)) return true;
    return (st.st_mode & 077) == 0 && st.st_uid == geteuid();
}
