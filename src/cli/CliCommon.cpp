#include "CliCommon.h"

#include "app/OptionFile.h"
#include "base/Files.h"
#include "base/Text.h"
#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "platform/Platform.h"
#include "transport/DeviceControlLibrary.h"
#include "transport/CameraGet.h"
#include "upgrade/UpgradeObject.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

int ConsoleBox(const std::string& text, const std::string& caption, int flags, int answer) {
    std::cerr << caption << ": " << text << std::endl;
    if ((flags & 0xF) != platform::MB_YESNO) return platform::IDOK;
    if (answer) {
        std::cerr << (answer == platform::IDYES ? "(yes)" : "(no)") << std::endl;
        return answer;
    }
    if (isatty(STDIN_FILENO)) {
        for (;;) {
            std::cerr << "[y/n] " << std::flush;
            std::string line;
            if (!std::getline(std::cin, line)) break;
            if (line == "y" || line == "Y" || line == "yes") return platform::IDYES;
            if (line == "n" || line == "N" || line == "no") return platform::IDNO;
        }
    }
    std::cerr << "(no)" << std::endl;
    return platform::IDNO;
}

namespace {

std::atomic<bool> gBarShown{false};

} // namespace

progress::TSink TerminalProgressBar() {
    if (!isatty(STDERR_FILENO)) return nullptr;
    return [](progress::TStage stage, int64_t done, int64_t total) {
        static const char* names[] = {"download", "upload", "records", "reboot"};
        const char* name = names[static_cast<int>(stage)];
        char line[128];
        if (total <= 0) {
            std::snprintf(line, sizeof line, "\r[%-30s] %s ...", "<=>", name);
        } else {
            int filled = static_cast<int>(done * 30 / total);
            std::snprintf(line, sizeof line, "\r[%-30.*s] %3d%% %s", filled, "##############################",
                          static_cast<int>(done * 100 / total), name);
        }
        std::fputs(line, stderr);
        std::fflush(stderr);
        gBarShown = true;
    };
}

void ClearProgressLine() {
    if (gBarShown.exchange(false)) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

namespace {

std::atomic<int> gVerbosity{0};

// The codes of the language files in the language folder, as their names spell them.
std::vector<std::string> LanguageCodes() {
    TStringList files;
    TTools::FindFiles(files, LangDir(), "*.l*", true);
    std::string prefix = LangFileName("");
    std::vector<std::string> codes;
    for (const std::string& f : files) {
        std::string name = f.substr(f.rfind('/') + 1);
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            codes.push_back(name.substr(prefix.size()));
    }
    std::sort(codes.begin(), codes.end());
    return codes;
}

bool ChooseLanguage(const std::string& requested) {
    if (requested.empty()) {
        SetCurLang(StartLanguage(TOptionFile("option.ini")));
        return true;
    }
    std::string code = LanguageCode(requested);
    std::vector<std::string> codes = LanguageCodes();
    for (const std::string& c : codes)
        if (LowerCase(c) == LowerCase(code)) {
            SetLanguage(c);
            return true;
        }
    std::cerr << "ipcam-upgrade-cli: --lang " << EscapeControls(ValidUtf8(requested))
              << ": no such language; the languages are";
    for (size_t i = 0; i < codes.size(); ++i)
        std::cerr << (i ? ", " : " ") << codes[i];
    std::cerr << std::endl;
    SetLanguage("en");
    return false;
}

} // namespace

int CliVerbosity() {
    return gVerbosity;
}

void SetCliVerbosity(int level) {
    gVerbosity = level;
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

bool FirmwareServerConfigured(const std::string& given, std::string& error) {
    if (!TrimText(given).empty()) return true;
    if (const char* env = std::getenv("IPCAM_FIRMWARE_SERVER"); env && !TrimText(env).empty()) return true;
    TOptionFile options("option.ini");
    if (!TrimText(options.ReadOption("Global", "FirmwareServer", "")).empty()) return true;
    error = "no firmware server is configured: give --firmware-server URL (or a folder), set "
            "IPCAM_FIRMWARE_SERVER, or set FirmwareServer= under [Global] in " +
            options.UserFileName() + " (or in " + SystemOptionDir() + "option.ini for every user)";
    return false;
}

struct TCliEnvironment::TState {
    TfrmStrRes Store;
};

TCliEnvironment::TCliEnvironment(int answer, const std::string& lang) {
    platform::SetMessageBoxHook(
        [answer](const std::string& t, const std::string& c, int f) { return ConsoleBox(t, c, f, answer); });
    FState = std::make_unique<TState>();
    CreateZoltSeries();
    FRefused = !ChooseLanguage(lang);
    TOptionFile options("option.ini");
    SetFirmwareServerOption(options.ReadOption("Global", "FirmwareServer", ""));
    ApplyCacheOptions(options);
}

TCliEnvironment::~TCliEnvironment() {
    ReleaseZoltSeries();
    FState.reset();
    platform::SetMessageBoxHook(nullptr);
}
