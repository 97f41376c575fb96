#include "History.h"

#include "base/Files.h"
#include "base/Text.h"
#include "platform/Fd.h"
#include "platform/Platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>

namespace {

std::string NowIso() {
    auto now = std::chrono::system_clock::now();
    std::time_t secs = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &tm);
    std::string t = text;
    // ISO 8601 wants the zone as +hh:mm.
    if (t.size() > 2) t.insert(t.size() - 2, ":");
    return t;
}

std::string Shown(const std::optional<std::string>& v) {
    return v ? EscapeControls(ValidUtf8(*v)) : "-";
}

// A reader of the flat JSON objects this program writes: strings, numbers, null, true, false
// and nested objects, arrays skipped. Anything else ends the read as a failure, never a crash.
class TJsonReader {
  public:
    explicit TJsonReader(const std::string& text) : FText(text) {}

    // Flattens the object into "camera.ip" style keys; null values are absent.
    bool Object(const std::string& prefix, std::map<std::string, std::string>& out, int depth = 0) {
        if (depth > 8 || !Take('{')) return false;
        Blanks();
        if (Take('}')) return true;
        for (;;) {
            std::string key;
            Blanks();
            if (!String(key)) return false;
            Blanks();
            if (!Take(':')) return false;
            Blanks();
            if (!Value(prefix + key, out, depth)) return false;
            Blanks();
            if (Take('}')) return true;
            if (!Take(',')) return false;
        }
    }

    bool AtEnd() {
        Blanks();
        return FPos == FText.size();
    }

  private:
    bool Value(const std::string& key, std::map<std::string, std::string>& out, int depth) {
        if (FPos >= FText.size()) return false;
        char c = FText[FPos];
        if (c == '"') {
            std::string v;
            if (!String(v)) return false;
            out[key] = v;
            return true;
        }
        if (c == '{') return Object(key + ".", out, depth + 1);
        if (c == '[') return SkipArray(depth + 1);
        size_t start = FPos;
        while (FPos < FText.size() && (std::isalnum(static_cast<unsigned char>(FText[FPos])) ||
                                       FText[FPos] == '-' || FText[FPos] == '+' || FText[FPos] == '.'))
            ++FPos;
        if (FPos == start) return false;
        std::string word = FText.substr(start, FPos - start);
        // Only what JSON allows: a word of another kind is a damaged line, not a value.
        if (word != "null" && word != "true" && word != "false" && !JsonNumber(word)) return false;
        if (word != "null") out[key] = word;
        return true;
    }

    static bool JsonNumber(const std::string& w) {
        size_t i = w[0] == '-' ? 1 : 0;
        auto digits = [&] {
            size_t from = i;
            while (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i])))
                ++i;
            return i > from;
        };
        if (!digits()) return false;
        if (i < w.size() && w[i] == '.' && (++i, !digits())) return false;
        if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
            ++i;
            if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
            if (!digits()) return false;
        }
        return i == w.size();
    }

    bool SkipArray(int depth) {
        if (depth > 8 || !Take('[')) return false;
        Blanks();
        if (Take(']')) return true;
        std::map<std::string, std::string> ignored;
        for (;;) {
            Blanks();
            if (!Value("", ignored, depth)) return false;
            Blanks();
            if (Take(']')) return true;
            if (!Take(',')) return false;
        }
    }

    bool String(std::string& v) {
        if (!Take('"')) return false;
        while (FPos < FText.size()) {
            char c = FText[FPos++];
            if (c == '"') return true;
            if (c != '\\') {
                v += c;
                continue;
            }
            if (FPos >= FText.size()) return false;
            char e = FText[FPos++];
            switch (e) {
            case 'n':
                v += '\n';
                break;
            case 'r':
                v += '\r';
                break;
            case 't':
                v += '\t';
                break;
            case 'b':
                v += '\b';
                break;
            case 'f':
                v += '\f';
                break;
            case 'u': {
                if (FPos + 4 > FText.size()) return false;
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    char h = FText[FPos++];
                    int d = std::isdigit(static_cast<unsigned char>(h)) ? h - '0'
                            : (h >= 'a' && h <= 'f')                    ? h - 'a' + 10
                            : (h >= 'A' && h <= 'F')                    ? h - 'A' + 10
                                                                        : -1;
                    if (d < 0) return false;
                    code = code * 16 + static_cast<unsigned>(d);
                }
                // What this program escapes as \u are control bytes; others read as U+FFFD.
                if (code < 0x80)
                    v += static_cast<char>(code);
                else
                    v += "\xEF\xBF\xBD";
                break;
            }
            default:
                v += e;
            }
        }
        return false;
    }

    bool Take(char c) {
        if (FPos < FText.size() && FText[FPos] == c) {
            ++FPos;
            return true;
        }
        return false;
    }

    void Blanks() {
        while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\r'))
            ++FPos;
    }

    const std::string& FText;
    size_t FPos = 0;
};

} // namespace

std::string HistoryPath() {
    std::string base = platform::StateDataDir();
    return base.empty() ? base : base + "ipcam-upgrade/history.jsonl";
}

std::string SyslogLine(const TSessionResult& s) {
    const TSessionReport& r = s.Report;
    std::string line = "camera " + EscapeControls(ValidUtf8(s.Camera.Name()));
    if (!s.Camera.Mac.empty()) line += " mac " + EscapeControls(ValidUtf8(s.Camera.Mac));
    line += " series " + std::string(1, s.Camera.Series) + " firmware " + s.Firmware + " version " +
            Shown(r.VersionBefore) + " offered " + Shown(r.VersionOffered) + " after " +
            Shown(r.VersionAfter) + " outcome " + r.Outcome;
    if (!r.Key.empty()) line += ": " + EscapeControls(ValidUtf8(r.Text));
    return line;
}

void RecordSession(const TSessionResult& s) {
    std::string json = SessionJson(s, false);
    std::string line = "{\"time\": " + JsonString(NowIso()) + ", " + json.substr(1) + "\n";
    std::string path = HistoryPath();
    std::string dir = path.substr(0, path.rfind('/'));
    if (!path.empty() && ForceDir(dir.substr(0, dir.rfind('/') + 1)) &&
        (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST)) {
        platform::TFd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        // Sessions of a batch and of other processes append side by side: one write of one whole
        // line under the lock, so lines never interleave.
        if (fd.Valid() && flock(fd.Get(), LOCK_EX) == 0) WriteAll(fd.Get(), line.data(), line.size());
    }
    openlog("ipcam-upgrade", LOG_PID, LOG_USER);
    syslog(s.Report.Outcome == "failed" ? LOG_WARNING : LOG_INFO, "%s", SyslogLine(s).c_str());
    closelog();
}

bool ParseHistoryLine(const std::string& line, THistoryEntry& e) {
    std::map<std::string, std::string> f;
    TJsonReader reader(line);
    // A session always names its camera's address: a line without one is damaged.
    if (!reader.Object("", f) || !reader.AtEnd() || !f.count("outcome") || !f.count("camera.ip") ||
        f["camera.ip"].empty())
        return false;
    auto get = [&](const char* k) { return f.count(k) ? f[k] : std::string(); };
    auto opt = [&](const char* k) { return f.count(k) ? std::optional<std::string>(f[k]) : std::nullopt; };
    e.Line = line;
    e.Time = get("time");
    e.IP = get("camera.ip");
    e.Port = get("camera.port");
    e.Series = get("camera.series");
    e.Mac = get("camera.mac");
    e.Name = get("camera.name");
    e.Firmware = get("firmware");
    e.Outcome = get("outcome");
    e.Text = get("text");
    e.VersionBefore = opt("versionBefore");
    e.VersionOffered = opt("versionOffered");
    e.VersionAfter = opt("versionAfter");
    return true;
}
