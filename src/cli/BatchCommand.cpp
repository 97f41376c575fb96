#include "BatchCommand.h"

#include "CameraList.h"
#include "CameraSelection.h"
#include "CliCommon.h"
#include "SearchCommand.h"
#include "app/History.h"
#include "base/Text.h"
#include "discovery/SearchReplies.h"
#include "lang/Lang.h"
#include "platform/Platform.h"
#include "upgrade/PackageFiles.h"
#include "upgrade/UpgradeObject.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <csignal>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <unistd.h>

namespace {

constexpr size_t kMaxListBytes = 16 << 20;

bool ReadCameraList(const TCliBatchOptions& o, std::istream& in, std::vector<TCamera>& cameras,
                    std::string& error) {
    std::string text;
    std::istream* from = &in;
    std::ifstream file;
    if (o.CamerasFile != "-") {
        file.open(o.CamerasFile, std::ios::binary);
        if (!file) {
            error = "cannot read the camera list " + o.CamerasFile;
            return false;
        }
        from = &file;
    }
    char buf[65536];
    while (from->read(buf, sizeof buf) || from->gcount() > 0) {
        text.append(buf, static_cast<size_t>(from->gcount()));
        if (text.size() > kMaxListBytes) {
            error = "the camera list is larger than 16 MiB";
            return false;
        }
    }
    std::vector<TCameraRow> rows;
    std::vector<std::string> skipped;
    if (!ParseCameraList(text, rows, error, &skipped)) {
        error = o.CamerasFile + ": " + error;
        return false;
    }
    for (const std::string& line : skipped)
        std::cerr << "ipcam-upgrade-cli: " << o.CamerasFile << ": " << line << std::endl;
    bool passwords = false;
    for (TCameraRow& r : rows) {
        passwords = passwords || r.HasPassword;
        if (!r.HasPassword) r.Camera.Password = o.Password;
        cameras.push_back(r.Camera);
    }
    if (passwords && !IsPrivateFile(o.CamerasFile)) {
        error = o.CamerasFile +
                " holds passwords and other users can read it: make it private (chmod 600) or keep the "
                "password in --password-file";
        return false;
    }
    return true;
}

void PrintLeftOut(const std::vector<TLeftOut>& leftOut) {
    for (const TLeftOut& l : leftOut)
        std::cerr << "ipcam-upgrade-cli: left out: " << TypeLetter(l.Row.DevType) << " "
                  << EscapeControls(ValidUtf8(l.Row.IP)) << ":" << l.Row.HttpPort << " from "
                  << (l.Row.Source.empty() ? std::string("an unknown sender") : l.Row.Source) << ": "
                  << l.Reason << std::endl;
}

// The cameras of a search that a login may go to; the rows left out are named once, with why.
// Standard cameras whose address must still answer as one go to awaiting.
std::vector<TCamera> SearchedCameras(const TCliBatchOptions& o, std::vector<TAwaiting>& awaiting) {
    std::vector<TLeftOut> leftOut;
    std::vector<TCamera> cameras = TrustedCameras(SearchLan(o.Rounds, o.External, std::cerr), o.Series,
                                                  o.User, o.Password, leftOut, awaiting);
    PrintLeftOut(leftOut);
    return cameras;
}

// Whether the series a search takes ("E,F,ONVIF") are standard cameras only.
bool OnlyStandardSeries(const std::string& series) {
    for (const std::string& item : SeriesItems(series))
        if (item != "ONVIF") return false;
    return true;
}

// The local package is the same for every camera: a wrong one is refused once, before any session.
bool PackageUsable(const TCliBatchOptions& o, std::string& error) {
    if (o.Package.empty()) return true;
    if ((!o.MD5.empty() && !TUpgradeOpt::CheckMD5(o.Package, o.MD5)) ||
        (!o.SHA256.empty() && !TUpgradeOpt::CheckSHA256(o.Package, o.SHA256))) {
        error = GetLangStr("IDS_MD5ERROR") + " " + o.Package;
        return false;
    }
    return true;
}

class TBatch {
  public:
    TBatch(const TCliBatchOptions& o, TSessionSettings settings, std::vector<TCamera> cameras,
           std::ostream& out, const std::atomic<bool>* stop)
        : FOptions(o), FCameras(std::move(cameras)), FOut(out), FStop(stop), FDone(),
          FSettings(std::move(settings)) {
        FSettings.Request.Stop = stop;
        // A standard camera has one firmware only: its sessions are fewer.
        for (const TCamera& c : FCameras) {
            FFirst.push_back(FResults.size());
            for (int kind : FirmwareKinds(o.Firmware, c.Series))
                FResults.push_back({c, kind == 1 ? "system" : "ui", {}, {}, {}});
        }
        FDone.assign(FResults.size(), false);
    }

    int Run() {
        InParallel(FCameras.size(), static_cast<size_t>(std::max(1, FOptions.Jobs)), [this](size_t camera) {
            if (!Stopped()) Work(camera);
        });
        // Sessions that never started are reported as such.
        bool ok = true;
        for (size_t i = 0; i < FResults.size(); ++i) {
            if (!FDone[i]) {
                FResults[i].Report.Outcome = "cancelled";
                if (FOptions.Json) FOut << SessionJson(FResults[i]) << "\n";
            }
            ok = EndedWell(FResults[i].Report) && ok;
        }
        if (FOptions.Json)
            FOut << SummaryJson(FResults) << std::endl;
        else if (CliVerbosity() >= 0)
            PrintSummaryTable(FResults, FOut);
        return ok ? 0 : 1;
    }

  private:
    bool Stopped() const { return FStop && FStop->load(); }

    // The sessions of one camera, one after another.
    void Work(size_t camera) {
        TCamera c = FCameras[camera];
        std::vector<int> kinds = FirmwareKinds(FOptions.Firmware, c.Series);
        for (size_t k = 0; k < kinds.size(); ++k) {
            if (k && !Stopped()) platform::Sleep(1000);
            size_t slot = FFirst[camera] + k;
            TSessionResult r = RunSession(c, kinds[k], FSettings, [&](const std::string& text) {
                if (FOptions.Json || CliVerbosity() < 0) return;
                std::lock_guard g(FPrint);
                FOut << EscapeControls(c.Name()) << "  " << LogTimeStamp() << text << std::endl;
            });
            c = r.Camera; // what one session learnt of the camera names it in the next
            RecordSession(r);
            std::lock_guard g(FPrint);
            FResults[slot] = std::move(r);
            FDone[slot] = true;
            if (FOptions.Json)
                FOut << SessionJson(FResults[slot]) << std::endl;
            else if (CliVerbosity() < 0 && !EndedWell(FResults[slot].Report))
                PrintFailure(FResults[slot], FOut);
        }
    }

    const TCliBatchOptions& FOptions;
    std::vector<TCamera> FCameras;
    std::ostream& FOut;
    const std::atomic<bool>* FStop;
    std::vector<size_t> FFirst; // each camera's first result
    std::vector<bool> FDone;
    std::vector<TSessionResult> FResults;
    TSessionSettings FSettings;
    std::mutex FPrint;
};

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) {
    gInterrupted = true;
    static const char text[] = "\nipcam-upgrade-cli: stopping: no new sessions start; running uploads end "
                               "first (Ctrl-C again ends at once)\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
}

} // namespace

int RunBatch(const TCliBatchOptions& o, std::istream& in, std::ostream& out, const std::atomic<bool>* stop) {
    std::string error;
    if (o.CamerasFile.empty() == !o.FromSearch)
        error = "give the cameras either with --cameras FILE or with --from-search";
    // A standard camera has one firmware, which "both" means: a package goes to it whatever
    // --firmware says. Whether a camera of two firmware kinds is among them, the cameras tell.
    bool packageForBoth = !o.Package.empty() && o.Firmware == "both";
    TCliRunOptions checked = o;
    if (packageForBoth) checked.Firmware = "system";
    if (error.empty()) RunOptionsUsable(checked, error);
    if (error.empty() && packageForBoth && o.FromSearch && !OnlyStandardSeries(o.Series))
        error = "--package needs --firmware system or --firmware ui (or --series ONVIF): a file holds one "
                "kind of firmware, and only standard cameras have just one";
    if (error.empty() && o.Package.empty()) FirmwareServerConfigured(o.FirmwareServer, error);
    if (!error.empty()) {
        std::cerr << "ipcam-upgrade-cli: " << error << std::endl;
        return 2;
    }
    // Sessions side by side never ask: a camera that runs the newest version is upgraded only
    // with --yes.
    TCliEnvironment environment(o.Answer == platform::IDYES ? platform::IDYES : platform::IDNO, o.Lang);
    if (environment.Refused()) return 2;
    std::vector<TCamera> cameras;
    std::vector<TAwaiting> awaiting;
    if (o.FromSearch)
        cameras = SearchedCameras(o, awaiting);
    else if (!ReadCameraList(o, in, cameras, error)) {
        std::cerr << "ipcam-upgrade-cli: " << error << std::endl;
        return 2;
    }
    for (const TCamera& c : cameras)
        if (packageForBoth && c.Series != 'O') {
            std::cerr
                << "ipcam-upgrade-cli: --package needs --firmware system or --firmware ui: a file holds "
                   "one kind of firmware, and "
                << EscapeControls(ValidUtf8(c.Name())) << " (series " << SeriesText(c.Series) << ") has two"
                << std::endl;
            return 2;
        }
    std::vector<std::string> merged;
    cameras = OneSessionPerCamera(cameras, awaiting, merged);
    for (const std::string& m : merged)
        std::cerr << "ipcam-upgrade-cli: " << m << std::endl;
    // Counted before their addresses are asked: a search that names more cameras than allowed is
    // refused whatever they would answer, so a flood of replies never makes this program ask
    // more addresses than it would start sessions for.
    if (o.FromSearch && cameras.size() + awaiting.size() > static_cast<size_t>(o.MaxCameras)) {
        std::cerr << "ipcam-upgrade-cli: the search found " << cameras.size() + awaiting.size() << " cameras";
        if (!awaiting.empty())
            std::cerr << " (" << awaiting.size() << " of them standard cameras not yet asked)";
        std::cerr << ", more than --max-cameras " << o.MaxCameras << ": no session started" << std::endl;
        return 1;
    }
    if (!awaiting.empty()) {
        std::vector<TLeftOut> leftOut;
        for (TCamera& c : ConfirmStandardCameras(awaiting, leftOut, ConfirmJobs, ConfirmTimeout, stop))
            cameras.push_back(std::move(c));
        PrintLeftOut(leftOut);
    }
    if (!PackageUsable(o, error)) {
        std::cerr << "ipcam-upgrade-cli: " << error << std::endl;
        return 1;
    }
    ShareFirmwareLists(true);
    int rc = TBatch(o, SettingsFor(o, environment.Startup()), std::move(cameras), out, stop).Run();
    ShareFirmwareLists(false);
    return rc;
}

TBatchCommand::TBatchCommand(CLI::App& app) {
    FCommand = app.add_subcommand("batch", "upgrade many cameras at once, from a CSV list or a LAN search");
    TCliBatchOptions& o = FOptions;
    auto* cameras = FCommand->add_option(
        "--cameras", o.CamerasFile,
        "CSV file of the cameras (header row: ip,port,series,user[,password]; - for standard input)");
    auto* search =
        FCommand->add_flag("--from-search", o.FromSearch, "upgrade the cameras a LAN search finds");
    cameras->excludes(search);
    FCommand->add_option("--series", o.Series, "with --from-search: the series to take, e.g. H,T")
        ->capture_default_str();
    FCommand->add_option("--rounds", o.Rounds, "with --from-search: search rounds, one a second")
        ->check(CLI::Range(0, 3600))
        ->capture_default_str();
    FCommand
        ->add_option("--max-cameras", o.MaxCameras,
                     "with --from-search: start nothing when the search finds more cameras than this")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    FCommand->add_flag("--no-external", FNoExternal,
                       "with --from-search: do not load the external search library");
    FCommand->add_option("--jobs", o.Jobs, "sessions at once")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    FCommand->add_option("--user", o.User, "account of cameras whose row names none")->capture_default_str();
    FCommand->add_option("--password-file", FPasswordFile,
                         "read the password of cameras whose row has none from the file's first line "
                         "(else IPCAM_PASSWORD, else the default)");
    FFlags = std::make_unique<TRunOptionFlags>(*FCommand, o);
}

bool TBatchCommand::Parsed() const {
    return FCommand->parsed();
}

int TBatchCommand::Run() {
    FFlags->Apply(FOptions);
    for (char& c : FOptions.Series)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FOptions.External = !FNoExternal;
    std::string error;
    if (!PasswordFromOutside(FPasswordFile, FOptions.Password, error)) {
        std::cerr << "ipcam-upgrade-cli: " << error << std::endl;
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND; // a second Ctrl-C ends the program
    sigemptyset(&action.sa_mask);
    struct sigaction before {};
    sigaction(SIGINT, &action, &before);
    int rc = RunBatch(FOptions, std::cin, std::cout, &gInterrupted);
    sigaction(SIGINT, &before, nullptr);
    if (gInterrupted) {
        std::cerr << "ipcam-upgrade-cli: stopped by Ctrl-C" << std::endl;
        return rc == 0 ? 1 : rc;
    }
    return rc;
}
