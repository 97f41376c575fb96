#include "cli/CliApp.h"
#include "lang/Lang.h"
#include "upgrade/uIUpgradeOpt.h"

#include "SimDemo.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include "lang/IniFile.h"
#include "platform/Platform.h"

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST_F(CliEndToEnd, ACameraBackWithItsOldVersionIsAFailureWithOneMoreLine) {
    std::vector<sim::TCameraConfig> cams = DemoOf({sim::TSeries::H});
    cams[0].Faults.RebootOldVersion = true;
    Sim = std::make_unique<sim::TSimulation>(Root + "fm", cams, "127.0.0.1", 0, true);
    sim::TSimCamera& h = *Sim->Cameras()[0];
    auto o = For(h);
    o.Firmware = "system";
    int rc = -1;
    auto lines = Run(o, rc);
    EXPECT_EQ(rc, 1);
    std::vector<std::string> want = Seven("48.3.1.7", "48.3.1.8");
    want.push_back("The camera is working again, but it still runs version :48.3.1.7");
    EXPECT_EQ(lines, want);
    o.Json = true;
    std::ostringstream out;
    EXPECT_EQ(RunUpgrade(o, out), 1);
    EXPECT_NE(out.str().find("\"outcome\": \"failed\", \"key\": \"IDS_OLDVERSIONBACK\""), std::string::npos);
    EXPECT_NE(out.str().find("\"versionBefore\": \"48.3.1.7\", \"versionOffered\": \"48.3.1.8\", "
                             "\"versionAfter\": \"48.3.1.7\""),
              std::string::npos)
        << out.str();
}

TEST_F(CliEndToEnd, AWrongSha256InTheListIsTheDigestFailure) {
    Start();
    sim::TSimCamera& f = *Sim->Find(sim::TSeries::F);
    TIniFile list(Root + "fm/system/firmware.txt");
    std::string section = list.ReadSections().at(0);
    ASSERT_TRUE(list.WriteString(section, "SHA256", std::string(64, 'a')));
    auto o = For(f);
    o.Firmware = "system";
    int rc = -1;
    auto lines = Run(o, rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(lines.back(), "Update check failed!");
    EXPECT_EQ(f.Upgrades(), 0);
    std::string zip = Root + "fm/system/" + list.ReadString(section, "SysFile", "");
    ASSERT_TRUE(TIniFile(list.FileName()).WriteString(section, "SHA256", TUpgradeOpt::FileSHA256(zip)));
    Run(o, rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(f.Upgrades(), 1);
}

TEST_F(CliEndToEnd, AMirrorOfTheServerIsAWholeFirmwareServerFromAFolder) {
    Start();
    TCliMirrorOptions m;
    m.To = Root + "mirror";
    m.Folders = {"system", "OEMF", "oemh"};
    m.FirmwareServer = Sim->Firmware().BaseURL();
    std::ostringstream out;
    ASSERT_EQ(RunMirror(m, out), 0) << out.str();
    int requests = Sim->Firmware().Requests();
    out.str("");
    EXPECT_EQ(RunMirror(m, out), 0); // again: only the lists are fetched
    EXPECT_EQ(Sim->Firmware().Requests(), requests + 3);
    EXPECT_NE(out.str().find("already here"), std::string::npos);
    requests = Sim->Firmware().Requests();
    for (sim::TSeries s : {sim::TSeries::F, sim::TSeries::H}) {
        sim::TSimCamera& cam = *Sim->Find(s);
        auto o = For(cam);
        o.FirmwareServer = m.To; // a plain folder
        int rc = -1;
        Run(o, rc);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(cam.Upgrades(), 2);
    }
    EXPECT_EQ(Sim->Firmware().Requests(), requests);
    // A package that does not match its list is not kept.
    m.To = Root + "mirror2";
    std::string zip = Root + "fm/system/F-sys-48.2.0.11.zip";
    WriteFile(zip, "damaged");
    EXPECT_EQ(RunMirror(m, out), 1);
    EXPECT_FALSE(Exists(m.To + "/system/F-sys-48.2.0.11.zip"));
}

TEST_F(CliEndToEnd, AFolderServerNeverLetsACameraNameAFolderOutsideIt) {
    std::vector<sim::TCameraConfig> cams = DemoOf({sim::TSeries::H});
    cams[0].OEM = "../outside"; // its UI list and package land beside the tree, in Root + "outside/"
    Sim = std::make_unique<sim::TSimulation>(Root + "fm", cams, "127.0.0.1", 0, true);
    ASSERT_TRUE(Exists(Root + "outside/firmware.txt"));
    auto o = For(*Sim->Cameras()[0]);
    o.Firmware = "ui";
    o.FirmwareServer = Root + "fm";
    int rc = -1;
    auto lines = Run(o, rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(lines.back(), "Failed to read version information of the latest rom.");
    EXPECT_EQ(Sim->Cameras()[0]->Upgrades(), 0);
}

namespace {

// An https server of the openssl tool serving files below folder, with a certificate of its own.
class TTlsServer {
  public:
    explicit TTlsServer(const std::string& folder) {
        Cert = folder + "tls-cert.pem";
        std::string key = folder + "tls-key.pem";
        Shell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + key +
              " -out " + Cert +
              " -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null");
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
        close(s);
        FPid = fork();
        if (FPid == 0) {
            if (chdir(folder.c_str()) != 0) _exit(127);
            std::string accept = "127.0.0.1:" + std::to_string(Port);
            execlp("openssl", "openssl", "s_server", "-quiet", "-accept", accept.c_str(), "-cert",
                   Cert.c_str(), "-key", key.c_str(), "-WWW", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && !Listening(); ++i)
            platform::Sleep(1000, 20);
    }
    ~TTlsServer() {
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
    bool Listening() const {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(Port));
        bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(s);
        return ok;
    }
    std::string Cert;
    int Port = 0;

  private:
    pid_t FPid = -1;
};

} // namespace

TEST_F(CliEndToEnd, AnHttpsFirmwareServerIsTrustedOnlyWithItsCertificate) {
    Start();
    TTlsServer tls(Root);
    ASSERT_TRUE(tls.Listening());
    sim::TSimCamera& h = *Sim->Find(sim::TSeries::H);
    auto o = For(h);
    o.Firmware = "system";
    o.FirmwareServer = "https://127.0.0.1:" + std::to_string(tls.Port) + "/fm/";
    int rc = -1;
    auto lines = Run(o, rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(lines.back(), "Failed to read version information of the latest rom.");
    o.CaFile = tls.Cert;
    lines = Run(o, rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(lines.back(), kWorking);
    EXPECT_EQ(h.Upgrades(), 1);
    EXPECT_EQ(Sim->Firmware().Requests(), 0);
}

TEST(CliProgram, UsageErrorsAndHelp) {
    std::string cli = IPCAM_CLI_PATH;
    EXPECT_NE(Shell(cli + " upgrade --help").find("--firmware-server"), std::string::npos);
    EXPECT_EQ(WEXITSTATUS(system((cli + " upgrade --series Q >/dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(system((cli + " >/dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(system((cli + " upgrade --yes --no >/dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(system((cli + " upgrade --help >/dev/null 2>&1").c_str())), 0);
    // Options of the fleet that do not go together are refused before any camera is asked.
    for (const char* bad : {" upgrade --ip 127.0.0.1 --package /nonexistent --firmware ui",
                            " upgrade --ip 127.0.0.1 --package /etc/hostname",
                            " upgrade --ip 127.0.0.1 --package /etc/hostname --firmware ui --md5 xyz",
                            " upgrade --ip 127.0.0.1 --md5 0123456789abcdef0123456789abcdef", " batch",
                            " batch --cameras /nonexistent", " batch --cameras - --from-search",
                            " mirror --to /nonexistent/x --folders ../x"})
        EXPECT_EQ(WEXITSTATUS(system((cli + bad + " </dev/null >/dev/null 2>&1").c_str())), 2) << bad;
    EXPECT_EQ(Shell(cli + " --version"), "ipcam-upgrade-cli " IPCAM_VERSION "\n");
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
