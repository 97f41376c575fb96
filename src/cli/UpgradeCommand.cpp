#include "UpgradeCommand.h"

#include "CliCommon.h"
#include "app/UpgradeInput.h"
#include "app/UpgradeThread.h"
#include "lang/Lang.h"
#include "platform/Platform.h"
#include "upgrade/uUpgradeFactory.h"

#include <CLI/CLI.hpp>

#include <condition_variable>
#include <iostream>
#include <mutex>

namespace {

int SeriesIndex(char s) {
    static const std::string order = "EFHTC";
    size_t i = order.find(s);
    return i == std::string::npos ? -1 : static_cast<int>(i);
}

bool EndedWell(const std::string& key) {
    return key == "IDS_IPCWORKING" || key == "IDS_NOUPDATEFIRM" || key == "IDS_NONEWVERSION";
}

class TCliSession {
  public:
    explicit TCliSession(std::ostream& out) : FOut(out) {}

    void Log(const std::string& text) {
        ClearProgressLine();
        FOut << LogTimeStamp() << text << std::endl;
    }

    // One press of an upgrade button: the input checks, then a session; false when it did not end well.
    bool Run(const TCliUpgradeOptions& o, int kind) {
        int series = SeriesIndex(o.Series);
        int port = PortNumber(o.Port);
        if (const char* key = FailedInputCheck(series, o.User, o.IP, port)) return Fail(key);
        std::shared_ptr<TUpgradeObject> u = TUpgradeFactory::CreateUpgrade(series, kind);
        if (!u) return false;
        u->SetUser(TrimText(o.User));
        u->SetPassword(TrimText(o.Password));
        u->SetIP(TrimText(o.IP));
        u->SetPort(port);
        u->SetFirmwareServer(o.FirmwareServer);
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::string outcome;
        auto thread = TUpgradeThread::Create(u, "", "");
        thread->OnLog = [this](const std::string& t) { Log(t); };
        thread->OnOutcome = [&](const std::string& key) { outcome = key; };
        thread->OnProgress = TerminalProgressBar();
        thread->OnFinished = [&] {
            std::lock_guard g(m);
            done = true;
            cv.notify_all();
        };
        TUpgradeThread::Start(std::move(thread));
        std::unique_lock l(m);
        cv.wait(l, [&] { return done; });
        return EndedWell(outcome);
    }

  private:
    bool Fail(const char* key) {
        Log(GetLangStr(key));
        return false;
    }
    std::ostream& FOut;
};

} // namespace

int RunUpgrade(const TCliUpgradeOptions& o, std::ostream& out) {
    // Checked before anything else: such an address would put its own port, path or query into
    // every request to the camera.
    if (!TrimText(o.IP).empty() && !IsCameraAddress(TrimText(o.IP))) {
        std::cerr << "ipcam-upgrade-cli: --ip \"" << EscapeControls(o.IP)
                  << "\" is no camera address (an IPv4 address or a host name)" << std::endl;
        return 2;
    }
    TCliEnvironment environment(o.Answer, o.Lang);
    TCliSession session(out);
    bool ok = true;
    if (o.Firmware == "system" || o.Firmware == "both") ok = session.Run(o, 1) && ok;
    if (o.Firmware == "both") platform::Sleep(1000);
    if (o.Firmware == "ui" || o.Firmware == "both") ok = session.Run(o, 0) && ok;
    ClearProgressLine();
    return ok ? 0 : 1;
}

TUpgradeCommand::TUpgradeCommand(CLI::App& app) {
    FCommand =
        app.add_subcommand("upgrade", "log in, fetch the newest firmware, upload it and wait for the reboot");
    TCliUpgradeOptions& o = FOptions;
    FCommand->add_option("--ip", o.IP, "camera IP address or host name");
    FCommand->add_option("--port", o.Port, "camera HTTP port")->capture_default_str();
    FCommand->add_option("--user", o.User, "camera account")->capture_default_str();
    FCommand->add_option("--password", o.Password, "camera password")->capture_default_str();
    FCommand->add_option("--series", FSeries, "camera series")
        ->check(CLI::IsMember({"E", "F", "H", "T", "C"}))
        ->capture_default_str();
    FCommand->add_option("--firmware", o.Firmware, "system, ui, or both (system, then UI after 1 s)")
        ->check(CLI::IsMember({"system", "ui", "both"}))
        ->capture_default_str();
    auto* y =
        FCommand->add_flag("--yes", FYes, "upgrade even when the camera already runs the newest version");
    auto* n = FCommand->add_flag("--no", FNo, "do not upgrade a camera that already runs the newest version");
    y->excludes(n);
    FCommand->add_option("--lang", o.Lang,
                         "language code of the texts (en, jp, ...); default from option.ini or the locale");
    FCommand->add_option("--firmware-server", o.FirmwareServer,
                         "firmware server base URL, for example http://127.0.0.1:8080/FM/");
}

bool TUpgradeCommand::Parsed() const {
    return FCommand->parsed();
}

int TUpgradeCommand::Run() {
    FOptions.Series = FSeries[0];
    FOptions.Answer = FYes ? platform::IDYES : FNo ? platform::IDNO : 0;
    return RunUpgrade(FOptions, std::cout);
}
