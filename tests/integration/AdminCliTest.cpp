// The command line as an administrator meets it: usage errors, quiet and verbose runs, the
// history and the cache after real upgrades of simulated cameras.
#include "cli/CacheCommand.h"
#include "cli/HistoryCommand.h"

#include "SimDemo.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>

#include <sstream>

using namespace testsupport;

namespace {

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

// Runs the real program with its standard output and error apart.
TRun Cli(const std::string& args, const std::string& root) {
    std::string err = root + "stderr.txt";
    TRun r;
    std::string cmd = std::string(IPCAM_CLI_PATH) + " " + args + " 2>" + err + " </dev/null; echo \"rc=$?\"";
    r.Out = Shell(cmd);
    size_t at = r.Out.rfind("rc=");
    r.Status = std::stoi(r.Out.substr(at + 3));
    r.Out.resize(at);
    r.Err = ReadFile(err);
    return r;
}

size_t Lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class AdminCli : public TSandbox {
  protected:
    void SetUp() override {
        TSandbox::SetUp();
        setenv("LANG", "C", 1);
        unsetenv("LC_ALL");
        unsetenv("IPCAM_FIRMWARE_SERVER");
    }
    void TearDown() override {
        Sim.reset();
        TSandbox::TearDown();
    }
    void Start() {
        Sim = std::make_unique<sim::TSimulation>(Root + "fm", DemoOf({sim::TSeries::F, sim::TSeries::H}),
                                                 "127.0.0.1", 0, true);
    }
    std::string Camera(sim::TSeries s) {
        return "--ip 127.0.0.1 --port " + std::to_string(Sim->Find(s)->Port());
    }
    std::string Server() { return " --firmware-server " + Sim->Firmware().BaseURL(); }
    std::unique_ptr<sim::TSimulation> Sim;
};

} // namespace

TEST_F(AdminCli, EveryUsageErrorExitsTwoWithOneLine) {
    struct TCase {
        const char* Args;
        const char* Says;
    } cases[] = {
        {"upgrade --firmware-server /tmp", "upgrade needs --ip"},
        {"upgrade --ip 127.0.0.1 --port abc --firmware-server /tmp", "--port \"abc\" is no port"},
        {"upgrade --ip 127.0.0.1 --port 99999 --firmware-server /tmp", "--port \"99999\" is no port"},
        {"upgrade --ip 127.0.0.1 --port 0 --firmware-server /tmp", "is no port"},
        {"serach", "unknown subcommand serach; did you mean search?"},
        {"-v histroy", "did you mean history?"},
        {"frobnicate", "the subcommands are upgrade, search, batch, mirror, cache, history"},
        {"upgrade --ip 127.0.0.1 --bogus", "--bogus"},
        {"upgrade --ip 127.0.0.1 --series H --lang xx --firmware-server /tmp",
         "--lang xx: no such language; the languages are en, jp"},
        {"search --lang klingon --rounds 0", "the languages are en, jp"},
        {"upgrade --ip 127.0.0.1 --series H", "no firmware server is configured"},
        {"mirror --to x", "no firmware server is configured"},
        {"cache", "cache needs --list or --clean"},
        {"-q -v history", "excludes"},
    };
    for (const TCase& c : cases) {
        TRun r = Cli(c.Args, Root);
        EXPECT_EQ(r.Status, 2) << c.Args;
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << c.Args << ": " << r.Err;
        // The reason once; the parser's errors add one hint line.
        EXPECT_LE(Lines(r.Err), 2u) << c.Args << ": " << r.Err;
        EXPECT_EQ(r.Out, "") << c.Args;
    }
    // How to set a server names the one file both front ends read.
    TRun r = Cli("mirror --to x", Root);
    EXPECT_NE(r.Err.find(Root + "config/ipcam-upgrade/option.ini"), std::string::npos) << r.Err;
}

TEST_F(AdminCli, SeriesInAnyCaseLanguageByItsUsualCodeAndOneConfigurationForEveryone) {
    Start();
    setenv("IPCAM_FIRMWARE_SERVER", Sim->Firmware().BaseURL().c_str(), 1);
    TRun r = Cli("upgrade " + Camera(sim::TSeries::H) + " --series h --check --lang ja", Root);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("機器に正常に接続しました"), std::string::npos) << r.Out; // Japanese texts
    unsetenv("IPCAM_FIRMWARE_SERVER");
    mkdir((Root + "config/ipcam-upgrade").c_str(), 0700);
    WriteFile(Root + "config/ipcam-upgrade/option.ini",
              "[Global]\nFirmwareServer=" + Sim->Firmware().BaseURL() + "\n");
    r = Cli("upgrade " + Camera(sim::TSeries::F) + " --series f --check -j", Root);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("\"series\": \"F\""), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("\"outcome\": \"update-available\""), std::string::npos) << r.Out;
}

TEST_F(AdminCli, QuietShowsOnlyFailuresVerboseEveryRequestWithoutSecrets) {
    Start();
    TRun r =
        Cli("-q upgrade " + Camera(sim::TSeries::H) + " --series H --firmware system -y" + Server(), Root);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "");
    r = Cli("upgrade -q " + Camera(sim::TSeries::F) + " --series F --password wrong --firmware system" +
                Server(),
            Root);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(Lines(r.Out), 1u) << r.Out;
    EXPECT_NE(r.Out.find("Login name or password is wrong!"), std::string::npos) << r.Out;
    r = Cli("-v upgrade " + Camera(sim::TSeries::F) + " --series F --check" + Server(), Root);
    EXPECT_NE(r.Err.find("GET http://127.0.0.1:"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("firmware.txt 200 "), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find(" ms\n"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find("530274"), std::string::npos) << r.Err; // the camera's password
    r = Cli("-vv upgrade " + Camera(sim::TSeries::H) + " --series H --check" + Server(), Root);
    EXPECT_NE(r.Err.find("> Authorization: ***"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find("530274"), std::string::npos) << r.Err;           // the camera's password
    EXPECT_EQ(r.Err.find("YWRtaW46NTMwMjc0"), std::string::npos) << r.Err; // admin:530274
}

// An F camera taken for an H one and the other way round: the pages give no section, and the line
// points at the series chosen, not at the firmware server.
TEST_F(AdminCli, ACameraOfAnotherSeriesIsToldBySeriesNotByServer) {
    Start();
    for (auto [camera, series] : {std::pair{sim::TSeries::F, "H"}, std::pair{sim::TSeries::H, "F"}}) {
        TRun r = Cli("upgrade " + Camera(camera) + " --series " + series +
                         " --firmware system --no --lang en" + Server(),
                     Root);
        EXPECT_EQ(r.Status, 1) << series;
        EXPECT_NE(r.Out.find("the series looks wrong."), std::string::npos) << series << r.Out;
        EXPECT_EQ(r.Out.find("Failed to read version information of the latest rom."), std::string::npos)
            << r.Out;
    }
    EXPECT_EQ(Sim->Find(sim::TSeries::F)->Upgrades() + Sim->Find(sim::TSeries::H)->Upgrades(), 0);
}

TEST_F(AdminCli, HistoryOfRealSessionsAndTheCacheTheyFilled) {
    Start();
    std::string cache = Root + "images";
    TRun r = Cli("upgrade " + Camera(sim::TSeries::H) + " --series H --firmware both -y --cache-dir " +
                     cache + Server(),
                 Root);
    ASSERT_EQ(r.Status, 0) << r.Err << r.Out;
    r = Cli("upgrade " + Camera(sim::TSeries::F) + " --series F --password hunter2x --firmware system" +
                Server(),
            Root);
    EXPECT_EQ(r.Status, 1);
    std::string history = ReadFile(Root + "state/ipcam-upgrade/history.jsonl");
    EXPECT_EQ(Lines(history), 3u) << history;
    EXPECT_EQ(history.find("530274"), std::string::npos); // the default password never lands there
    EXPECT_EQ(history.find("hunter2x"), std::string::npos);
    EXPECT_EQ(history.find("\"log\""), std::string::npos);

    std::ostringstream table;
    EXPECT_EQ(RunHistory(false, "", table), 0);
    EXPECT_NE(table.str().find("Outcome"), std::string::npos);
    EXPECT_EQ(Lines(table.str()), 4u) << table.str();
    std::ostringstream one;
    std::string h = "127.0.0.1:" + std::to_string(Sim->Find(sim::TSeries::H)->Port());
    EXPECT_EQ(RunHistory(true, h, one), 0);
    EXPECT_EQ(Lines(one.str()), 2u) << one.str();
    EXPECT_NE(one.str().find("\"outcome\": \"upgraded\""), std::string::npos);
    EXPECT_EQ(one.str().find("failed"), std::string::npos);
    r = Cli("history --camera 127.0.0.1 -j", Root);
    EXPECT_EQ(Lines(r.Out), 3u) << r.Out;

    // The images of the session stay in the cache folder given, not in the work folder.
    std::ostringstream list;
    EXPECT_EQ(RunCache(true, false, cache, list), 0);
    EXPECT_NE(list.str().find(": 2 images"), std::string::npos) << list.str();
    r = Cli("cache --clean --cache-dir " + cache, Root);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "removed 2 images from " + cache + "/\n");
    std::ostringstream empty;
    RunCache(true, false, cache, empty);
    EXPECT_NE(empty.str().find(": 0 images"), std::string::npos) << empty.str();
}
