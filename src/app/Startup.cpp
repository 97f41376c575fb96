#include "Startup.h"

#include "base/Files.h"
#include "base/Text.h"
#include "lang/IniFile.h"
#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "transport/DeviceControlLibrary.h"

#include <algorithm>
#include <cstdlib>

TStartup::TStartup() : FOptions("option.ini") {}

TStartup::~TStartup() {
    FStore.reset();
    if (FLibrary) ReleaseZoltSeries();
}

void TStartup::LoadDeviceControlLibrary() {
    CreateZoltSeries();
    FLibrary = true;
}

void TStartup::OpenLanguageStore() {
    if (!FStore) FStore = std::make_unique<TfrmStrRes>();
}

void TStartup::ChooseStartLanguage() {
    SetCurLang(StartLanguage(FOptions));
}

bool TStartup::ChooseLanguage(const std::string& Requested) {
    std::string code = LowerCase(LanguageCode(Requested));
    for (const std::string& c : LanguageCodes())
        if (LowerCase(c) == code) {
            SetLanguage(c);
            return true;
        }
    SetLanguage("en");
    return false;
}

void TStartup::ApplyCacheLimits() {
    ApplyCacheOptions(FOptions);
}

std::string TStartup::FirmwareServer(const std::string& Given) const {
    if (!TrimText(Given).empty()) return TrimText(Given);
    // Read at every session, so that the environment a session starts in is the one it uses.
    if (const char* env = std::getenv("IPCAM_FIRMWARE_SERVER"); env && !TrimText(env).empty())
        return TrimText(env);
    return TrimText(FOptions.ReadOption("Global", "FirmwareServer", ""));
}

namespace {

// The files of the language folder that may be language files.
TStringList LanguageFolderFiles() {
    TStringList files;
    FindFiles(files, LangDir(), "*.l*", true);
    return files;
}

} // namespace

std::vector<std::string> TStartup::LanguageFiles() const {
    TStringList files = LanguageFolderFiles();
    std::string key = "Name_" + CurLang();
    std::erase_if(files, [&](const std::string& f) {
        TIniFile ini(f);
        return !ini.Lookup("Global", key) || ini.ReadString("Global", key, "").empty();
    });
    return files;
}

std::vector<std::string> TStartup::LanguageCodes() {
    std::string prefix = LangFileName("");
    std::vector<std::string> codes;
    for (const std::string& f : LanguageFolderFiles()) {
        std::string name = f.substr(f.rfind('/') + 1);
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            codes.push_back(name.substr(prefix.size()));
    }
    std::sort(codes.begin(), codes.end());
    return codes;
}

std::string LanguageCode(const std::string& given) {
    std::string c = LowerCase(TrimText(given));
    c = c.substr(0, c.find_first_of(".@"));
    std::replace(c.begin(), c.end(), '-', '_');
    std::string language = c.substr(0, c.find('_'));
    if (language == "ja" || language == "jp") return "jp";
    if (c == "zh_tw" || c == "zh_hk" || c == "zh_mo" || c == "zh_hant" || c == "b5") return "b5";
    if (language == "zh" || language == "cn") return "cn";
    if (language == "es" || language == "spa") return "spa";
    if (language == "it" || language == "ita") return "Ita";
    if (language == "fr" || language == "en") return language;
    return TrimText(given);
}
