#include "IniFile.h"

#include "base/Text.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName)) {
    std::string content;
    FExists = ReadWholeFile(FFileName, content);
    Parse(content);
}

TIniFile::TIniFile(std::string FileName, std::string_view Content)
    : FFileName(std::move(FileName)), FExists(true) {
    Parse(Content);
}

void TIniFile::Parse(std::string_view content) {
    FLines.clear();
    // A byte-order mark would otherwise glue itself to the first section name.
    if (content.substr(0, 3) == "\xEF\xBB\xBF") {
        content.remove_prefix(3);
        FBom = true;
    }
    if (content.find("\r\n") == std::string_view::npos && content.find('\n') != std::string_view::npos)
        FEol = "\n";
    while (!content.empty()) {
        size_t nl = content.find('\n');
        std::string_view raw = content.substr(0, nl);
        content.remove_prefix(nl == std::string_view::npos ? content.size() : nl + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        TLine line;
        line.Raw = raw;
        std::string_view t = Trim(raw);
        if (!t.empty() && t.front() == '[') {
            line.Kind = 1;
            size_t close = t.rfind(']');
            std::string_view name =
                close == std::string_view::npos || close == 0 ? t.substr(1) : t.substr(1, close - 1);
            line.Name = Trim(name);
        } else if (size_t eq = t.find('='); eq != std::string_view::npos) {
            line.Kind = 2;
            line.Name = Trim(t.substr(0, eq));
            line.Value = Trim(t.substr(eq + 1));
        }
        FLines.push_back(std::move(line));
    }
}

long TIniFile::FindSection(std::string_view Section) const {
    std::string_view want = Trim(Section);
    for (size_t i = 0; i < FLines.size(); ++i)
        if (FLines[i].Kind == 1 && SameName(FLines[i].Name, want)) return static_cast<long>(i);
    return -1;
}

size_t TIniFile::SectionEnd(size_t s) const {
    size_t i = s + 1;
    while (i < FLines.size() && FLines[i].Kind != 1)
        ++i;
    return i;
}

std::string TIniFile::ReadString(std::string_view Section, std::string_view Key,
                                 std::string_view Default) const {
    std::optional<std::string> v = Lookup(Section, Key);
    return v ? std::move(*v) : std::string(Default);
}

std::optional<std::string> TIniFile::Lookup(std::string_view Section, std::string_view Key) const {
    std::string_view key = Trim(Key);
    long s = FindSection(Section);
    if (s < 0 || key.empty()) return std::nullopt;
    size_t end = SectionEnd(static_cast<size_t>(s));
    for (size_t i = static_cast<size_t>(s) + 1; i < end; ++i) {
        const TLine& l = FLines[i];
        if (l.Kind != 2 || !SameName(l.Name, key)) continue;
        std::string_view v = l.Value;
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        if (v.size() > MaxValue) v = v.substr(0, MaxValue);
        return std::string(v);
    }
    return std::nullopt;
}

bool TIniFile::SectionExists(std::string_view Section) const {
    return FindSection(Section) >= 0;
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> out;
    for (const TLine& l : FLines) {
        if (l.Kind != 1) continue;
        bool known = false;
        for (const std::string& o : out)
            known = known || SameName(o, l.Name);
        if (!known) out.push_back(l.Name);
    }
    return out;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view Section) const {
    std::vector<std::string> out;
    long s = FindSection(Section);
    if (s < 0) return out;
    size_t end = SectionEnd(static_cast<size_t>(s));
    for (size_t i = static_cast<size_t>(s) + 1; i < end; ++i) {
        if (FLines[i].Kind != 2 || FLines[i].Name.empty()) continue;
        bool known = false;
        for (const std::string& o : out)
            known = known || SameName(o, FLines[i].Name);
        if (!known) out.push_back(FLines[i].Name);
    }
    return out;
}

bool TIniFile::WriteString(std::string_view Section, std::string_view Key, std::string_view Value) {
    std::string_view sec = Trim(Section), key = Trim(Key);
    if (sec.empty() || key.empty()) return false;
    // A line end inside a name or value would write lines the reader then takes for others.
    for (std::string_view part : {sec, key, Value})
        if (part.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
    TLine kv;
    kv.Kind = 2;
    kv.Name = key;
    kv.Value = Trim(Value);
    kv.Raw = std::string(key) + "=" + std::string(Value);
    long s = FindSection(sec);
    if (s < 0) {
        TLine head;
        head.Kind = 1;
        head.Name = sec;
        head.Raw = "[" + std::string(sec) + "]";
        FLines.push_back(std::move(head));
        FLines.push_back(std::move(kv));
    } else {
        size_t end = SectionEnd(static_cast<size_t>(s));
        bool replaced = false;
        for (size_t i = static_cast<size_t>(s) + 1; i < end && !replaced; ++i) {
            if (FLines[i].Kind == 2 && SameName(FLines[i].Name, key)) {
                FLines[i] = kv;
                replaced = true;
            }
        }
        if (!replaced) {
            // After the section's last non-empty line, so blank separator lines stay between sections.
            size_t at = end;
            while (at > static_cast<size_t>(s) + 1 && Trim(FLines[at - 1].Raw).empty())
                --at;
            FLines.insert(FLines.begin() + static_cast<long>(at), std::move(kv));
        }
    }
    std::string out = FBom ? "\xEF\xBB\xBF" : "";
    for (const TLine& l : FLines)
        out += l.Raw + FEol;
    if (!WriteFileAtomically(FFileName, out)) return false;
    FExists = true;
    return true;
}
