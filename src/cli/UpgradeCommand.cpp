#include "UpgradeCommand.h"

#include "CliCommon.h"
#include "SeriesProbe.h"
#include "app/History.h"
#include "app/UpgradeInput.h"
#include "base/Text.h"
#include "platform/Platform.h"
#include "transport/CameraGet.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <mutex>

int RunUpgrade(const TCliUpgradeOptions& given, std::ostream& out) {
    // A standard camera has one firmware: "both" means that one.
    TCliUpgradeOptions o = given;
    if (o.Series == 'O' && o.Firmware == "both") o.Firmware = "system";
    // Checked before anything else: such an address would put its own port, path or query into
    // every request to the camera.
    if (!TrimText(o.IP).empty() && !IsCameraAddress(TrimText(o.IP))) {
        std::cerr << "ipcam-upgrade-cli: --ip \"" << EscapeControls(o.IP)
                  << "\" is no camera address (an IPv4 address or a host name)" << std::endl;
        return 2;
    }
    std::string error;
    if (!RunOptionsUsable(o, error)) {
        std::cerr << "ipcam-upgrade-cli: " << error << std::endl;
        return 2;
    }
    TCliEnvironment environment(o.Answer, o.Lang);
    if (environment.Refused()) return 2;
    TSessionSettings settings = SettingsFor(o, environment.Startup());
    bool quiet = CliVerbosity() < 0;
    if (!o.Json && !quiet) settings.Progress = TerminalProgressBar();
    TCamera camera{o.IP, o.Port, o.Series, o.User, o.Password, o.Mac, o.Name};
    if (!camera.Series && !FindSeries(camera)) return 1;
    auto log = [&](const std::string& text) {
        if (o.Json || quiet) return;
        ClearProgressLine();
        out << LogTimeStamp() << text << std::endl;
    };
    std::vector<TSessionResult> results;
    std::vector<int> kinds = FirmwareKinds(o.Firmware, o.Series);
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (i) platform::Sleep(1000);
        results.push_back(RunSession(camera, kinds[i], settings, log));
        // What the first session learnt of the camera names it in the next one's report too.
        camera = results.back().Camera;
        RecordSession(results.back());
        if (o.Json)
            out << SessionJson(results.back()) << std::endl;
        else if (quiet && !EndedWell(results.back().Report))
            PrintFailure(results.back(), out);
    }
    ClearProgressLine();
    if (o.Check && !o.Json && !quiet) PrintSummaryTable(results, out);
    bool ok = true;
    for (const TSessionResult& r : results)
        ok = EndedWell(r.Report) && ok;
    return ok ? 0 : 1;
}

TUpgradeCommand::TUpgradeCommand(CLI::App& app) {
    FCommand =
        app.add_subcommand("upgrade", "log in, fetch the newest firmware, upload it and wait for the reboot");
    TCliUpgradeOptions& o = FOptions;
    FCommand->add_option("--ip", o.IP, "camera IP address or host name");
    FCommand->add_option("--port", o.Port, "camera HTTP port")->capture_default_str();
    FCommand->add_option("--user", o.User, "camera account")->capture_default_str();
    auto* password = FCommand->add_option(
        "--password", o.Password,
        "camera password (seen by other users: prefer --password-file or IPCAM_PASSWORD)");
    password->capture_default_str();
    FCommand
        ->add_option("--password-file", FPasswordFile, "read the camera password from the file's first line")
        ->excludes(password);
    FCommand
        ->add_option(
            "--series", FSeries,
            "camera series (E, F, H, T, C or onvif, any case); without it the camera is asked by the "
            "search's probes")
        ->transform(CLI::IsMember({"E", "F", "H", "T", "C", "onvif"}, CLI::ignore_case));
    FFlags = std::make_unique<TRunOptionFlags>(*FCommand, o);
}

bool TUpgradeCommand::Parsed() const {
    return FCommand->parsed();
}

int TUpgradeCommand::Run() {
    FOptions.Series = FSeries.empty() ? '\0'
                      : LowerCase(FSeries) == "onvif"
                          ? 'O'
                          : static_cast<char>(std::toupper(static_cast<unsigned char>(FSeries[0])));
    FFlags->Apply(FOptions);
    // What the window's input checks would say after the session began is a usage error here,
    // said once, before anything else.
    std::string error;
    if (TrimText(FOptions.IP).empty())
        error = "upgrade needs --ip ADDRESS";
    else if (int port = PortNumber(FOptions.Port); port < 1 || port > 65535)
        error = "--port \"" + EscapeControls(ValidUtf8(FOptions.Port)) + "\" is no port (1 to 65535)";
    else if (FOptions.Package.empty() && IsCameraAddress(TrimText(FOptions.IP)))
        FirmwareServerConfigured(FOptions.FirmwareServer, error);
    if (!error.empty()) {
        std::cerr << "ipcam-upgrade-cli: " << error << std::endl;
        return 2;
    }
    if (FCommand->count("--password") == 0 && !PasswordFromOutside(FPasswordFile, FOptions.Password, error)) {
        std::cerr << "ipcam-upgrade-cli: " << error << std::endl;
        return 2;
    }
    return RunUpgrade(FOptions, std::cout);
}
