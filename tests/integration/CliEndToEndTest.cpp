#include "cli/CliApp.h"
#include "lang/Lang.h"

#include "SimDemo.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace testsupport;

namespace {

// The texts of the stored English file, which the CLI writes out and reads back.
const char* kConnected = "Device connected normally";
const char* kCurrent = "The version of present device rom is :";
const char* kNewest = "The version of latest  device rom is :";
const char* kDownloading = "Downloading rom for upgrading...";
const char* kUpgrading = "Begin to upgrade device''s rom, please hold the connection of the device normally.";
const char* kUpgraded = "Successfully upgrade ROM, it is going to reboot the device, please wait.....";
const char* kWorking = "IP Cam is Working!";

class CliEndToEnd : public TSandbox {
  protected:
    void SetUp() override {
        TSandbox::SetUp();
        setenv("LANG", "C", 1);
        unsetenv("LC_ALL");
    }
    void TearDown() override {
        Sim.reset();
        SetLangDir("");
        TSandbox::TearDown();
    }
    // F and H cameras only: an E camera would answer the searches of other tests, and a T
    // camera takes the fixed port 8600.
    void Start() {
        Sim = std::make_unique<sim::TSimulation>(Root + "fm", DemoOf({sim::TSeries::F, sim::TSeries::H}),
                                                 "127.0.0.1", 0, true);
    }
    TCliUpgradeOptions For(sim::TSimCamera& cam) { return OptionsFor(*Sim, cam); }
    // The log lines without their time stamps (everything up to the stamp's ':' after the time).
    std::vector<std::string> Run(const TCliUpgradeOptions& o, int& rc) {
        std::ostringstream out;
        rc = RunUpgrade(o, out);
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string l; std::getline(in, l);) {
            std::string stamp = LogTimeStamp();
            size_t cut = l.find(':', l.find(':', l.find(':') + 1) + 1); // date, then hh:mm:ss and ':'
            EXPECT_NE(cut, std::string::npos) << l;
            lines.push_back(l.substr(cut + 1));
        }
        return lines;
    }
    std::unique_ptr<sim::TSimulation> Sim;
};

std::vector<std::string> Seven(const std::string& from, const std::string& to) {
    return {kConnected, kCurrent + from, kNewest + to, kDownloading, kUpgrading, kUpgraded, kWorking};
}

} // namespace

TEST_F(CliEndToEnd, FAndHSystemThenUI) {
    Start();
    for (sim::TSeries s : {sim::TSeries::F, sim::TSeries::H}) {
        sim::TSimCamera& cam = *Sim->Find(s);
        std::string sys = cam.SysVersion(), app = cam.AppVersion();
        int rc = -1;
        auto lines = Run(For(cam), rc);
        EXPECT_EQ(rc, 0) << sim::SeriesName(s);
        std::vector<std::string> want = Seven(sys, sim::NextVersion(sys));
        for (const auto& l : Seven(app, sim::NextVersion(app)))
            want.push_back(l);
        EXPECT_EQ(lines, want) << sim::SeriesName(s);
        EXPECT_EQ(cam.SysVersion(), sim::NextVersion(sys));
        EXPECT_EQ(cam.AppVersion(), sim::NextVersion(app));
        EXPECT_EQ(cam.Upgrades(), 2);
    }
}

TEST_F(CliEndToEnd, OneKindAtATime) {
    Start();
    sim::TSimCamera& f = *Sim->Find(sim::TSeries::F);
    auto o = For(f);
    o.Firmware = "ui";
    int rc = -1;
    auto lines = Run(o, rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(lines.size(), 7u);
    EXPECT_EQ(f.SysVersion(), "48.2.0.10");
    EXPECT_EQ(f.AppVersion(), "2.4.8.7");
}

TEST_F(CliEndToEnd, WrongPasswordStopsAtOnceWithoutAskingTheFirmwareServer) {
    Start();
    auto o = For(*Sim->Find(sim::TSeries::H));
    o.Password = "wrong";
    o.Firmware = "system";
    int rc = -1;
    EXPECT_EQ(Run(o, rc), (std::vector<std::string>{"Login name or password is wrong!"}));
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(Sim->Firmware().Requests(), 0);
}

TEST_F(CliEndToEnd, NewestVersionAlreadyWithNo) {
    Start();
    sim::TSimCamera& f = *Sim->Find(sim::TSeries::F);
    auto o = For(f);
    o.Firmware = "system";
    int rc = -1;
    Run(o, rc); // now at the newest version
    ASSERT_EQ(rc, 0);
    o.Answer = 7;
    auto lines = Run(o, rc);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "It is the latest one, there is no need to upgrade !");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(f.Upgrades(), 1);
}

TEST_F(CliEndToEnd, InputChecksLogTheirTextForEachKind) {
    TCliUpgradeOptions o;
    o.Lang = "en";
    o.IP = "127.0.0.1";
    int rc = -1;
    o.User = "  ";
    EXPECT_EQ(Run(o, rc), (std::vector<std::string>{"User cannot by empty!", "User cannot by empty!"}));
    EXPECT_EQ(rc, 1);
    o.User = "admin";
    o.IP = " ";
    o.Firmware = "system";
    EXPECT_EQ(Run(o, rc), (std::vector<std::string>{"The IP address cannot be empty!"}));
    o.IP = "127.0.0.1";
    for (const char* port : {"8o", "0", "", " "}) {
        o.Port = port;
        EXPECT_EQ(Run(o, rc), (std::vector<std::string>{"Please input a valid port."})) << port;
    }
    o.Series = 'X';
    EXPECT_EQ(Run(o, rc), (std::vector<std::string>{"Please choose device type!"}));
}

TEST_F(CliEndToEnd, NegativePortStartsASessionThatFindsNoCamera) {
    TCliUpgradeOptions o;
    o.Lang = "en";
    o.IP = "127.0.0.1";
    o.Port = "-5";
    o.Firmware = "system";
    int rc = -1;
    auto lines = Run(o, rc);
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "IP Cam cannot be accessed, please check the device to make sure it work correctly."}));
    EXPECT_EQ(rc, 1);
}

TEST_F(CliEndToEnd, JapaneseTextsComeOutAsUtf8) {
    TCliUpgradeOptions o;
    o.Lang = "jp";
    o.IP = "";
    o.Firmware = "system";
    int rc = -1;
    EXPECT_EQ(Run(o, rc), (std::vector<std::string>{"IP アドレスを入力してください。"}));
}

TEST(CliProgram, UsageErrorsAndHelp) {
    std::string cli = IPCAM_CLI_PATH;
    EXPECT_NE(Shell(cli + " upgrade --help").find("--firmware-server"), std::string::npos);
    EXPECT_EQ(WEXITSTATUS(system((cli + " upgrade --series Q >/dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(system((cli + " >/dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(system((cli + " upgrade --yes --no >/dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(system((cli + " upgrade --help >/dev/null 2>&1").c_str())), 0);
}

TEST(CliProgram, AnAddressThatCarriesAPortOrAPathIsRefusedBeforeAnyRequest) {
    TTestHttpServer srv;
    std::string cli = IPCAM_CLI_PATH;
    for (const std::string& ip : {"127.0.0.1:" + std::to_string(srv.Port()) + "/oem.txt?", std::string("a b"),
                                  std::string("host/x")}) {
        std::string err = Shell(cli + " upgrade --yes --ip '" + ip + "' 2>&1 >/dev/null");
        EXPECT_NE(err.find("is no camera address"), std::string::npos) << err;
        EXPECT_EQ(WEXITSTATUS(system((cli + " upgrade --ip '" + ip + "' >/dev/null 2>&1").c_str())), 2);
    }
    EXPECT_EQ(srv.RequestCount(), 0u);
}
