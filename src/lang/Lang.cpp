#include "Lang.h"

#include "BuiltInLanguages.h"
#include "Charset.h"
#include "base/Files.h"
#include "base/MessageText.h"
#include "base/Text.h"
#include "platform/Platform.h"

#include <sys/stat.h>

#include <unordered_map>

namespace {

struct TState {
    std::mutex Lock; // guards CurLang and LangDir, which worker threads read
    std::string CurLang = "en";
    std::string LangDir;
};

TState& State() {
    static TState s;
    return s;
}

std::mutex& LangStrLock() {
    static std::mutex m;
    return m;
}

std::unordered_map<std::string, std::string>& LangStrCache() {
    static std::unordered_map<std::string, std::string> cache;
    return cache;
}

std::unique_ptr<TLangReader>& LangIniSlot() {
    static std::unique_ptr<TLangReader> slot;
    return slot;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
}

// The language code of a file name "<program>.l<code>".
std::string CodeOfFile(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(".l");
    return dot == std::string::npos ? std::string() : name.substr(dot + 2);
}

std::optional<std::string> ReadContent(const std::string& path) {
    std::string content;
    if (!ReadWholeFile(path, content)) return std::nullopt;
    return content;
}

} // namespace

TLangReader::TLangReader(const std::string& FileName) : TLangReader(FileName, ReadContent(FileName)) {}

TLangReader::TLangReader(const std::string& FileName, const std::optional<std::string>& Content)
    : FIni(Content ? TIniFile(FileName, *Content) : TIniFile(FileName)),
      FCodePage(Content && (FIni.HasByteOrderMark() || IsValidUtf8(*Content))
                    ? "UTF-8"
                    : CodePageOf(CodeOfFile(FileName))) {}

const char* TLangReader::CodePageOf(const std::string& code) {
    if (code == "cn" || code == "en") return "CP936";
    if (code == "jp") return "CP932";
    if (code == "b5") return "CP950";
    return "CP1252";
}

std::string CurLang() {
    std::lock_guard g(State().Lock);
    return State().CurLang;
}

void SetCurLang(const std::string& code) {
    std::lock_guard g(State().Lock);
    State().CurLang = code;
}

std::string LangDir() {
    std::lock_guard g(State().Lock);
    return State().LangDir;
}

void SetLangDir(const std::string& dir) {
    std::lock_guard g(State().Lock);
    State().LangDir = dir;
}

std::string LangFileName(const std::string& code) {
    std::string exe = platform::ExePath();
    size_t slash = exe.rfind('/');
    std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name + ".l" + code;
}

std::string LangFilePath() {
    return LangDir() + LangFileName(CurLang());
}

void SetLanguage(const std::string& code) {
    {
        std::lock_guard g(LangIniLock());
        LangIniSlot().reset();
    }
    {
        std::lock_guard g(LangStrLock());
        LangStrCache().clear();
    }
    SetCurLang(code);
    struct stat st {};
    if (stat(LangFilePath().c_str(), &st) != 0) SetCurLang("en");
}

std::string DecodeLangEscapes(std::string v) {
    ReplaceAll(v, "$b", " ");
    ReplaceAll(v, "$c", "=");
    ReplaceAll(v, "$n", "\r\n");
    ReplaceAll(v, "$$", "$");
    ReplaceAll(v, "$t", "\t");
    return v;
}

std::string ReadLangValue(const TLangReader& reader, const std::string& section, const std::string& key,
                          const std::string& Default) {
    // The default is program text, UTF-8 already: only its escapes are decoded.
    std::optional<std::string> raw = reader.Ini().Lookup(section, key);
    if (!raw) return DecodeLangEscapes(Default);
    return DecodeLangEscapes(ToUtf8(*raw, reader.CodePage()));
}

std::string GetLangStr(const std::string& key) {
    std::string folded = LowerCase(key);
    {
        std::lock_guard g(LangStrLock());
        auto it = LangStrCache().find(folded);
        if (it != LangStrCache().end() && !it->second.empty()) return it->second;
    }
    std::string result;
    if (!key.empty()) {
        TLangReader reader(LangFilePath());
        if (reader.Ini().Exists()) {
            result = ReadLangValue(reader, "StrRes", key, "");
        } else {
            // No language file to read (the private folder was refused, or the file is gone):
            // the built-in English texts, so that no line is ever empty.
            static const TLangReader english =
                TLangReader::FromContent(LangFileName("en"), StoredLanguageFile("en"));
            return ReadLangValue(english, "StrRes", key, "");
        }
    }
    std::lock_guard g(LangStrLock());
    if (result.empty())
        LangStrCache().erase(folded);
    else
        LangStrCache()[folded] = result;
    return result;
}

std::string MessageText(const std::string& key) {
    return GetLangStr(key);
}

std::string GetLangText(const std::string& section, const std::string& key) {
    if (section.empty() || key.empty()) return {};
    TLangReader reader(LangFilePath());
    return ReadLangValue(reader, section, key, "");
}

int LangMessageBox(const std::string& textKey, const std::string& captionKey, int flags) {
    std::string caption = GetLangStr(captionKey);
    std::string text = GetLangStr(textKey);
    return platform::MessageBox(text, caption, flags);
}

void ApplyLangFont(const std::string& code, TLangFont& font) {
    font.Charset = DEFAULT_CHARSET;
    if (code == "cn" || code == "b5" || code == "jp") {
        font.Face = code == "cn" ? "宋体" : code == "b5" ? "PMingLiU" : "Tahoma";
        font.Charset = code == "cn" ? GB2312_CHARSET : code == "b5" ? CHINESEBIG5_CHARSET : SHIFTJIS_CHARSET;
        if (font.Size == 8) font.Size = 9;
    } else {
        font.Face = "Tahoma";
        if (font.Size == 9) font.Size = 8;
    }
}

std::recursive_mutex& LangIniLock() {
    static std::recursive_mutex m;
    return m;
}

TLangReader& LangIni() {
    auto& slot = LangIniSlot();
    if (!slot) slot = std::make_unique<TLangReader>(LangFilePath());
    return *slot;
}
