#include "CliCommon.h"

#include "app/OptionFile.h"
#include "lang/Lang.h"
#include "lang/StrResource.h"
#include "platform/Platform.h"
#include "transport/SR_Zolt.h"
#include "upgrade/uIUpgrade.h"

#include <unistd.h>

#include <ctime>
#include <iostream>

std::string LogTimeStamp() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
    return std::string(buf, n) + ":";
}

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
