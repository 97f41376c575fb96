#include "CliCommon.h"

#include "app/OptionFile.h"
#include "lang/Lang.h"
#include "lang/StrResource.h"
#include "platform/Platform.h"
#include "transport/SR_Zolt.h"
#include "upgrade/uIUpgrade.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>

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

void ChooseLanguage(const std::string& requested) {
    if (!requested.empty()) {
        SetLanguage(requested);
        return;
    }
    TOptionFile options("option.ini");
    SetCurLang(options.ReadOption("Global", "lan", ""));
    if (CurLang().empty()) SetCurLang(DefaultLangFromCodePage());
    if (!FileExists(LangFilePath())) SetCurLang("en");
}

} // namespace

struct TCliEnvironment::TState {
    TfrmStrRes Store;
};

TCliEnvironment::TCliEnvironment(int answer, const std::string& lang) {
    platform::SetMessageBoxHook(
        [answer](const std::string& t, const std::string& c, int f) { return ConsoleBox(t, c, f, answer); });
    FState = std::make_unique<TState>();
    CreateZoltSeries();
    ChooseLanguage(lang);
    TOptionFile options("option.ini");
    SetFirmwareServerOption(options.ReadOption("Global", "FirmwareServer", ""));
}

TCliEnvironment::~TCliEnvironment() {
    ReleaseZoltSeries();
    FState.reset();
    platform::SetMessageBoxHook(nullptr);
}
