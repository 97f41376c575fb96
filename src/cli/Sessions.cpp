#include "Sessions.h"

#include "CameraSelection.h"
#include "Output.h"
#include "app/UpgradeInput.h"
#include "base/Files.h"
#include "base/Text.h"
#include "lang/Lang.h"
#include "upgrade/OnvifSeries.h"

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

const char* const kOutcomes[] = {"upgraded",           "reinstalled",      "unchanged", "up-to-date",
                                 "no-upgrade-offered", "update-available", "cancelled", "failed"};

} // namespace

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
    TSessionRequest request = settings.Request;
    request.Series = series;
    request.Kind = kind;
    request.User = camera.User;
    request.Password = camera.Password;
    request.IP = camera.IP;
    request.Port = port;
    std::unique_ptr<TUpgradeThread> thread = TUpgradeThread::Create(request);
    if (!thread) return result;
    thread->OnLog = log;
    thread->OnProgress = settings.Progress;
    thread->OnReport = [&](const TSessionReport& r) { result.Report = r; };
    TIdentityNotes seen;
    thread->Run();
    if (auto* standard = dynamic_cast<TOnvifUpgrade*>(thread->Upgrade().get())) {
        result.Manufacturer = standard->GetManufacturer();
        result.Model = standard->GetModel();
    }
    LearnIdentity(result, seen.Seen(), *thread->Upgrade());
    return result;
}

bool EndedWell(const TSessionReport& r) {
    return r.Outcome == "upgraded" || r.Outcome == "reinstalled" || r.Outcome == "up-to-date" ||
           r.Outcome == "no-upgrade-offered" || r.Outcome == "update-available";
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
