#include "CameraList.h"

#include "base/Text.h"
#include "transport/CameraGet.h"

namespace {

constexpr size_t kMaxRows = 100000;
constexpr size_t kMaxRecord = 64 * 1024;

// One record of RFC 4180 CSV from text at pos: quoted fields may hold commas, doubled quotes
// and line ends. False for a quote left open or a record past the bound.
bool NextRecord(std::string_view text, size_t& pos, std::vector<std::string>& fields) {
    fields.assign(1, std::string());
    size_t start = pos;
    bool quoted = false;
    while (pos < text.size()) {
        if (pos - start > kMaxRecord) return false;
        char c = text[pos++];
        if (quoted) {
            if (c != '"')
                fields.back() += c;
            else if (pos < text.size() && text[pos] == '"')
                fields.back() += text[pos++];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            return true;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return !quoted;
}

bool Blank(const std::vector<std::string>& fields) {
    for (const std::string& f : fields)
        if (!TrimText(f).empty()) return false;
    return true;
}

} // namespace

bool ParseCameraList(std::string_view text, std::vector<TCameraRow>& rows, std::string& error,
                     std::vector<std::string>* skipped) {
    rows.clear();
    if (skipped) skipped->clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3); // as spreadsheets save it
    enum { Ip, Port, Series, User, Password, Mac, Columns };
    static const char* const names[Columns] = {"ip", "port", "series", "user", "password", "mac"};
    int column[Columns] = {-1, -1, -1, -1, -1, -1};
    size_t pos = 0, line = 0;
    std::vector<std::string> fields;
    bool header = false;
    while (pos < text.size()) {
        ++line;
        if (!NextRecord(text, pos, fields)) {
            error = "line " + std::to_string(line) + ": a quoted field is not closed or the row is too long";
            return false;
        }
        if (Blank(fields)) continue;
        if (!header) {
            for (size_t i = 0; i < fields.size(); ++i)
                for (int k = 0; k < Columns; ++k)
                    if (LowerCase(TrimText(fields[i])) == names[k]) {
                        if (column[k] >= 0) {
                            error = "line " + std::to_string(line) + ": the column " + names[k] + " twice";
                            return false;
                        }
                        column[k] = static_cast<int>(i);
                    }
            if (column[Ip] < 0 || column[Series] < 0) {
                error = "line " + std::to_string(line) + ": the header row needs the columns ip and series";
                return false;
            }
            header = true;
            continue;
        }
        if (rows.size() >= kMaxRows) {
            error = "more than " + std::to_string(kMaxRows) + " cameras";
            return false;
        }
        auto field = [&](int k) {
            return column[k] >= 0 && static_cast<size_t>(column[k]) < fields.size()
                       ? TrimText(fields[static_cast<size_t>(column[k])])
                       : std::string();
        };
        TCameraRow row;
        std::string where = "line " + std::to_string(line) + ": ";
        row.Camera.IP = field(Ip);
        if (!IsCameraAddress(row.Camera.IP)) {
            error = where + "\"" + EscapeControls(row.Camera.IP) + "\" is no camera address";
            return false;
        }
        std::string series = field(Series);
        if (series.empty()) {
            if (skipped)
                skipped->push_back(where + EscapeControls(row.Camera.IP) + " has no series: skipped");
            continue;
        }
        bool standard = LowerCase(series) == "onvif";
        if (!standard && (series.size() != 1 ||
                          std::string("EFHTC").find(static_cast<char>(
                              std::toupper(static_cast<unsigned char>(series[0])))) == std::string::npos)) {
            error = where + "the series \"" + EscapeControls(ValidUtf8(series)) +
                    "\" is none of E, F, H, T, C, onvif";
            return false;
        }
        row.Camera.Series =
            standard ? 'O' : static_cast<char>(std::toupper(static_cast<unsigned char>(series[0])));
        if (!field(Port).empty()) row.Camera.Port = field(Port);
        if (!field(User).empty()) row.Camera.User = field(User);
        row.Camera.Mac = field(Mac);
        // A password is taken as it stands: blanks may belong to it.
        if (column[Password] >= 0 && static_cast<size_t>(column[Password]) < fields.size() &&
            !fields[static_cast<size_t>(column[Password])].empty()) {
            row.Camera.Password = fields[static_cast<size_t>(column[Password])];
            row.HasPassword = true;
        }
        rows.push_back(row);
    }
    if (!header) {
        error = "no header row (ip, port, series, user)";
        return false;
    }
    return true;
}
