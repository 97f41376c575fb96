#include "CliApp.h"

#include "app/OptionFile.h"
#include "app/UpgradeThread.h"
#include "lang/Lang.h"
#include "lang/StrResource.h"
#include "platform/Platform.h"
#include "transport/SR_Zolt.h"
#include "upgrade/uUpgradeFactory.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <condition_variable>
#include <ctime>
#include <iostream>
#include <mutex>

namespace {

int SeriesIndex(char s) {
    switch (s) {
    case 'E':
        return 0;
    case 'F':
        return 1;
    case 'H':
        return 2;
    case 'T':
        return 3;
    case 'C':
        return 4;
    default:
        return -1;
    }
}

// The port as the main window reads it: text that is no integer reads as 0.
int PortNumber(const std::string& text) {
    std::string t = TrimText(text);
    if (t.empty()) return 0;
    size_t i = t[0] == '-' || t[0] == '+' ? 1 : 0;
    if (i == t.size() || t.find_first_not_of("0123456789", i) != std::string::npos || t.size() > 11) return 0;
    long long v = std::stoll(t);
    return v < INT32_MIN || v > INT32_MAX ? 0 : static_cast<int>(v);
}

// Message boxes of a program without a window: the text goes to standard error; a yes/no
// question is answered by --yes/--no, asked on a terminal, and otherwise answered no.
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

class TCliSession {
  public:
    explicit TCliSession(std::ostream& out) : FOut(out) {}

    void Log(const std::string& text) {
        FOut << LogTimeStamp() << text << std::endl;
        FLast = text;
    }

    // One press of an upgrade button: the input checks, then a session; false when it did not end well.
    bool Run(const TCliUpgradeOptions& o, int kind) {
        FLast.clear();
        int series = SeriesIndex(o.Series);
        int port = PortNumber(o.Port);
        if (series < 0) return Fail("IDS_NOIPCTYPE");
        if (TrimText(o.User).empty()) return Fail("IDS_NOLOGINUSER");
        if (TrimText(o.IP).empty()) return Fail("IDS_NOIPADDR");
        if (port == 0) return Fail("IDS_NOPORT");
        std::shared_ptr<TUpgradeObject> u = TUpgradeFactory::CreateUpgrade(series, kind);
        if (!u) {
            std::cerr << "ipcam-upgrade-cli: the " << o.Series
                      << " series cannot be upgraded by this build yet" << std::endl;
            return false;
        }
        u->SetUser(TrimText(o.User));
        u->SetPassword(TrimText(o.Password));
        u->SetIP(TrimText(o.IP));
        u->SetPort(port);
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        auto thread = TUpgradeThread::Create(u, "", "");
        thread->OnLog = [this](const std::string& t) { Log(t); };
        thread->OnFinished = [&] {
            std::lock_guard g(m);
            done = true;
            cv.notify_all();
        };
        TUpgradeThread::Start(std::move(thread));
        std::unique_lock l(m);
        cv.wait(l, [&] { return done; });
        for (const char* good : {"IDS_IPCWORKING", "IDS_NOUPDATEFIRM", "IDS_NONEWVERSION"}) {
            std::string text = GetLangStr(good);
            if (!text.empty() && FLast == text) return true;
        }
        return false;
    }

  private:
    bool Fail(const char* key) {
        Log(GetLangStr(key));
        return false;
    }
    std::ostream& FOut;
    std::string FLast;
};

} // namespace

std::string LogTimeStamp() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
    return std::string(buf, n) + ":";
}

int RunUpgrade(const TCliUpgradeOptions& o, std::ostream& out) {
    if (!o.FirmwareServer.empty()) setenv("IPCAM_FIRMWARE_SERVER", o.FirmwareServer.c_str(), 1);
    platform::SetMessageBoxHook([answer = o.Answer](const std::string& t, const std::string& c, int f) {
        return ConsoleBox(t, c, f, answer);
    });
    TfrmStrRes store;
    CreateZoltSeries();
    ChooseLanguage(o.Lang);
    {
        TOptionFile options("option.ini");
        SetFirmwareServerOption(options.ReadOption("Global", "FirmwareServer", ""));
    }
    TCliSession session(out);
    bool ok = true;
    if (o.Firmware == "system" || o.Firmware == "both") ok = session.Run(o, 1) && ok;
    if (o.Firmware == "both") platform::Sleep(1000);
    if (o.Firmware == "ui" || o.Firmware == "both") ok = session.Run(o, 0) && ok;
    ReleaseZoltSeries();
    platform::SetMessageBoxHook(nullptr);
    return ok ? 0 : 1;
}

int CliMain(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    try {
        platform::StartSockets();
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
    CLI::App app{
        "Upgrades the firmware of IP cameras.\n"
        "Environment: IPCAM_FIRMWARE_SERVER (firmware server base URL), IPCAM_TIME_SCALE (factor for "
        "every wait), IPCAM_BROADCAST_ADDR (where discovery datagrams go)."};
    app.require_subcommand(1);
    TCliUpgradeOptions o;
    std::string series = "H";
    bool yes = false, no = false;
    CLI::App* up =
        app.add_subcommand("upgrade", "log in, fetch the newest firmware, upload it and wait for the reboot");
    up->add_option("--ip", o.IP, "camera IP address");
    up->add_option("--port", o.Port, "camera HTTP port")->capture_default_str();
    up->add_option("--user", o.User, "camera account")->capture_default_str();
    up->add_option("--password", o.Password, "camera password")->capture_default_str();
    up->add_option("--series", series, "camera series")
        ->check(CLI::IsMember({"E", "F", "H", "T", "C"}))
        ->capture_default_str();
    up->add_option("--firmware", o.Firmware, "system, ui, or both (system, then UI after 1 s)")
        ->check(CLI::IsMember({"system", "ui", "both"}))
        ->capture_default_str();
    auto* y = up->add_flag("--yes", yes, "upgrade even when the camera already runs the newest version");
    auto* n = up->add_flag("--no", no, "do not upgrade a camera that already runs the newest version");
    y->excludes(n);
    up->add_option("--lang", o.Lang,
                   "language code of the texts (en, jp, ...); default from option.ini or the locale");
    up->add_option("--firmware-server", o.FirmwareServer,
                   "firmware server base URL, for example http://127.0.0.1:8080/FM/");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    o.Series = series[0];
    o.Answer = yes ? platform::IDYES : no ? platform::IDNO : 0;
    int rc = 1;
    if (up->parsed()) rc = RunUpgrade(o, std::cout);
    platform::StopSockets();
    return rc;
}
