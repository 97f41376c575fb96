#include "CliCommon.h"

#include "app/OptionFile.h"
#include "base/Files.h"
#include "base/Text.h"
#include "lang/Lang.h"
#include "platform/Platform.h"
#include "transport/CameraGet.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <system_error>
#include <thread>
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

} // namespace

int CliVerbosity() {
    return gVerbosity;
}

void SetCliVerbosity(int level) {
    gVerbosity = level;
}

bool FirmwareServerConfigured(const std::string& given, std::string& error) {
    TStartup startup;
    if (!startup.FirmwareServer(given).empty()) return true;
    error = "no firmware server is configured: give --firmware-server URL (or a folder), set "
            "IPCAM_FIRMWARE_SERVER, or set FirmwareServer= under [Global] in " +
            startup.Options().UserFileName() + " (or in " + SystemOptionDir() + "option.ini for every user)";
    return false;
}

TCliEnvironment::TCliEnvironment(int answer, const std::string& lang) {
    platform::SetMessageBoxHook(
        [answer](const std::string& t, const std::string& c, int f) { return ConsoleBox(t, c, f, answer); });
    FStartup = std::make_unique<TStartup>();
    FStartup->LoadDeviceControlLibrary();
    FStartup->OpenLanguageStore();
    if (lang.empty()) {
        FStartup->ChooseStartLanguage();
    } else if (!FStartup->ChooseLanguage(lang)) {
        FRefused = true;
        std::cerr << "ipcam-upgrade-cli: --lang " << EscapeControls(ValidUtf8(lang))
                  << ": no such language; the languages are";
        std::vector<std::string> codes = TStartup::LanguageCodes();
        for (size_t i = 0; i < codes.size(); ++i)
            std::cerr << (i ? ", " : " ") << codes[i];
        std::cerr << std::endl;
    }
    FStartup->ApplyCacheLimits();
}

TCliEnvironment::~TCliEnvironment() {
    FStartup.reset();
    platform::SetMessageBoxHook(nullptr);
}

void InParallel(size_t count, size_t jobs, const std::function<void(size_t)>& each) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < count;)
            each(i);
    };
    std::vector<std::thread> helpers;
    for (size_t k = 1; k < std::min(jobs, count); ++k) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& t : helpers)
        t.join();
}
