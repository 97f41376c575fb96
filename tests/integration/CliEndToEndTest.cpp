#include "cli/CliApp.h"
#include "lang/Lang.h"
#include "upgrade/FSeries.h"
#include "upgrade/PackageFiles.h"

#include "SimDemo.h"
#include "SimZip.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include "base/Files.h"
#include "lang/IniFile.h"
#include "platform/Platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
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
    // One camera of a series with the faults set, alone in a fresh simulation.
    sim::TSimCamera& StartOne(sim::TSeries series, const std::function<void(sim::TCameraFaults&)>& fault) {
        std::vector<sim::TCameraConfig> cams = DemoOf({series});
        fault(cams[0].Faults);
        Sim = std::make_unique<sim::TSimulation>(Root + "fm", cams, "127.0.0.1", 0, true);
        return *Sim->Cameras()[0];
    }
    // The F camera of a fresh simulation, upgraded once: it runs the newest system firmware.
    sim::TSimCamera& AtNewestSystem() {
        Start();
        sim::TSimCamera& f = *Sim->Find(sim::TSeries::F);
        auto o = For(f);
        o.Firmware = "system";
        int rc = -1;
        Run(o, rc);
        EXPECT_EQ(rc, 0);
        return f;
    }
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
    sim::TSimCamera& f = AtNewestSystem();
    auto o = For(f);
    o.Firmware = "system";
    int rc = -1;
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
    // mode: "-WWW" serves the files below folder; "-HTTP" sends each file as the whole answer.
    explicit TTlsServer(const std::string& folder, const char* mode = "-WWW") {
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
                   Cert.c_str(), "-key", key.c_str(), mode, static_cast<char*>(nullptr));
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

namespace {

std::string JsonLine(const TCliUpgradeOptions& o, int& rc) {
    std::ostringstream out;
    rc = RunUpgrade(o, out);
    return out.str();
}

} // namespace

TEST_F(CliEndToEnd, ALocalPackageTheCameraDidNotTakeIsUnchangedAndAFlashOfItsVersionIsAReinstall) {
    sim::TSimCamera& f = StartOne(sim::TSeries::F, [](sim::TCameraFaults& x) { x.RebootOldVersion = true; });
    auto o = For(f);
    o.Firmware = "system";
    o.Package = Root + "F-sys.bin";
    sim::WriteImageFile(o.Package, sim::TKind::System, "48.2.0.12", 4096);
    o.Json = true;
    int rc = -1;
    std::string json = JsonLine(o, rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(json.find("\"outcome\": \"unchanged\", \"key\": \"IDS_OLDVERSIONBACK\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"versionOffered\": null, \"versionAfter\": \"48.2.0.10\""), std::string::npos)
        << json;
    EXPECT_EQ(f.Upgrades(), 1);

    // A camera that takes it: upgraded, judged by the version it reports.
    Sim = std::make_unique<sim::TSimulation>(Root + "fm2", DemoOf({sim::TSeries::F}), "127.0.0.1", 0, true);
    sim::TSimCamera& g = *Sim->Cameras()[0];
    o = For(g);
    o.Firmware = "system";
    o.Json = true;
    o.Package = Root + "F-sys.bin";
    json = JsonLine(o, rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(json.find("\"outcome\": \"upgraded\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"versionAfter\": \"48.2.0.12\""), std::string::npos) << json;
}

TEST_F(CliEndToEnd, ReinstallFlashesTheRunningVersionAgainAndSaysSo) {
    sim::TSimCamera& f = AtNewestSystem();
    std::string cli =
        std::string(IPCAM_CLI_PATH) + " upgrade --ip 127.0.0.1 --port " + std::to_string(f.Port()) +
        " --series F --firmware system --json --lang en --firmware-server " + Sim->Firmware().BaseURL();
    std::string json = Shell(cli + " --reinstall");
    EXPECT_NE(json.find("\"outcome\": \"reinstalled\", \"key\": \"IDS_IPCWORKING\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"versionBefore\": \"48.2.0.11\", \"versionOffered\": \"48.2.0.11\", "
                        "\"versionAfter\": \"48.2.0.11\""),
              std::string::npos)
        << json;
    EXPECT_EQ(f.Upgrades(), 2);
    EXPECT_EQ(WEXITSTATUS(system((cli + " --yes >/dev/null").c_str())), 0); // the older name stays
    EXPECT_EQ(f.Upgrades(), 3);
    EXPECT_EQ(WEXITSTATUS(system((cli + " --reinstall --no >/dev/null 2>&1").c_str())), 2);
}

TEST_F(CliEndToEnd, APackageNamedThroughALinkIsTheFileItPointsTo) {
    Start();
    for (sim::TSeries s : {sim::TSeries::F, sim::TSeries::H}) {
        sim::TSimCamera& cam = *Sim->Find(s);
        auto o = For(cam);
        o.Firmware = "system";
        std::string image = Root + sim::SeriesName(s) + "-sys.bin";
        sim::WriteImageFile(image, sim::TKind::System, sim::NextVersion(cam.SysVersion()), 4096);
        o.Package = Root + "latest-" + sim::SeriesName(s) + ".bin";
        ASSERT_EQ(symlink(image.c_str(), o.Package.c_str()), 0);
        o.Json = true;
        int rc = -1;
        std::string json = JsonLine(o, rc);
        EXPECT_EQ(rc, 0) << json;
        EXPECT_NE(json.find("\"outcome\": \"upgraded\""), std::string::npos) << json;
        EXPECT_EQ(cam.Upgrades(), 1);
    }
}

TEST(CliProgram, APasswordFileOthersCanReadIsRefusedAsACameraListWithPasswordsIs) {
    char dir[] = "/tmp/ipcam-pwfile-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string file = std::string(dir) + "/password";
    WriteFile(file, "secret\n");
    std::string cli = std::string(IPCAM_CLI_PATH);
    for (const char* mode : {"644", "640", "604"}) {
        Shell("chmod " + std::string(mode) + " " + file);
        for (const char* command :
             {" upgrade --ip 127.0.0.1 --port 1 --firmware system --firmware-server http://127.0.0.1:1/FM/",
              " batch --cameras -"}) {
            std::string run = cli + command + " --password-file " + file + " </dev/null";
            EXPECT_EQ(WEXITSTATUS(system((run + " >/dev/null 2>&1").c_str())), 2) << mode << command;
            EXPECT_NE(Shell(run + " 2>&1 >/dev/null").find("other users can read the password file " + file),
                      std::string::npos)
                << mode << command;
        }
    }
    Shell("chmod 600 " + file);
    // Private: taken, and the session goes on to find no camera there.
    EXPECT_EQ(WEXITSTATUS(system((cli + " upgrade --ip 127.0.0.1 --port 1 --firmware system " +
                                  "--firmware-server http://127.0.0.1:1/FM/ --password-file " + file +
                                  " >/dev/null 2>&1")
                                     .c_str())),
              1);
    Shell("rm -r " + std::string(dir));
}

TEST_F(CliEndToEnd, AnHttpsFirmwareServerNeverRedirectsToHttp) {
    Start();
    std::string site = Root + "tls/";
    ASSERT_TRUE(ForceDir(site + "fm/system"));
    WriteFile(site + "fm/system/firmware.txt",
              "HTTP/1.0 302 Found\r\nLocation: " + Sim->Firmware().BaseURL() +
                  "system/firmware.txt\r\nContent-Length: 0\r\n\r\n");
    TTlsServer tls(site, "-HTTP");
    ASSERT_TRUE(tls.Listening());
    auto o = For(*Sim->Find(sim::TSeries::H));
    o.Firmware = "system";
    o.CaFile = tls.Cert;
    o.FirmwareServer = "https://127.0.0.1:" + std::to_string(tls.Port) + "/fm/";
    int rc = -1;
    auto lines = Run(o, rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(lines.back(), "Failed to read version information of the latest rom.");
    EXPECT_EQ(Sim->Firmware().Requests(), 0) << "the redirect to http was not followed";
}

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Puts the F system package under another name: a ZIP whose image is named after it, in the
// list with its digest.
void RenamePackage(const std::string& fm, const std::string& from, const std::string& to) {
    TIniFile list(fm + "system/firmware.txt");
    for (const std::string& section : list.ReadSections()) {
        if (list.ReadString(section, "SysFile", "") != from) continue;
        std::string image = to.substr(0, to.size() - 4) + ".bin";
        unlink((fm + "system/" + from).c_str());
        sim::WriteZip(fm + "system/" + to, {{image, sim::MakeImage(sim::TKind::System, "48.2.0.11")}});
        TIniFile edit(list.FileName());
        ASSERT_TRUE(edit.WriteString(section, "SysFile", to));
        ASSERT_TRUE(edit.WriteString(section, "MD5", TUpgradeOpt::FileMD5(fm + "system/" + to)));
        ASSERT_TRUE(edit.WriteString(section, "SHA256", TUpgradeOpt::FileSHA256(fm + "system/" + to)));
    }
}

} // namespace

TEST_F(CliEndToEnd, EveryNameMadeFromTheLongestPackageNameFitsAndALongerOneIsADesignedFailure) {
    Start();
    sim::TSimCamera& f = *Sim->Find(sim::TSeries::F);
    std::string longest = std::string(220, 'p') + ".zip"; // 224 bytes
    RenamePackage(Root + "fm/", "F-sys-48.2.0.11.zip", longest);
    TCliMirrorOptions m;
    m.To = Root + "mirror";
    m.Folders = {"system", "oemf"};
    m.FirmwareServer = Sim->Firmware().BaseURL();
    std::ostringstream out;
    EXPECT_EQ(RunMirror(m, out), 0) << out.str();
    EXPECT_TRUE(Exists(m.To + "/system/" + longest));
    auto o = For(f);
    o.Firmware = "system";
    o.FirmwareServer = m.To;
    int rc = -1;
    Run(o, rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(f.Upgrades(), 1);

    std::string longer = "q" + longest;
    RenamePackage(Root + "fm/", longest, longer);
    m.To = Root + "mirror2";
    EXPECT_EQ(RunMirror(m, out), 1);
    EXPECT_TRUE(Exists(m.To + "/oemf/firmware.txt")) << "the other folders are mirrored";
    o.FirmwareServer = Sim->Firmware().BaseURL();
    o.Answer = 6;
    auto lines = Run(o, rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(lines.back(), "Failed to get ROM for upgrading.");

    // A file system that refuses a name (here: a path past PATH_MAX) is a message, not an abort.
    std::string deep = Root;
    while (deep.size() < 3900) {
        deep += std::string(200, 'd') + "/";
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    RenamePackage(Root + "fm/", longer, longest);
    m.To = deep.substr(0, deep.size() - 1);
    m.Folders = {"system"};
    EXPECT_EQ(RunMirror(m, out), 1);
}

TEST_F(CliEndToEnd, AMirrorIsMadeWithTheUmasksModeAndNeverThroughAFolderOthersControl) {
    Start();
    TCliMirrorOptions m;
    m.To = Root + "mirror";
    m.Folders = {"system", "oemf"};
    m.FirmwareServer = Sim->Firmware().BaseURL();
    std::ostringstream out;
    mode_t before = umask(027);
    int rc = RunMirror(m, out);
    umask(before);
    ASSERT_EQ(rc, 0) << out.str();
    EXPECT_EQ(ModeOf(m.To + "/system/firmware.txt"), 0640u);
    EXPECT_EQ(ModeOf(m.To + "/system/F-sys-48.2.0.11.zip"), 0640u);

    // A link planted below the target, or a target others can write to, is refused by its name.
    std::string victim = Root + "victim";
    ASSERT_EQ(mkdir(victim.c_str(), 0755), 0);
    m.To = Root + "mirror2";
    ASSERT_EQ(mkdir(m.To.c_str(), 0755), 0);
    ASSERT_EQ(symlink(victim.c_str(), (m.To + "/system").c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunMirror(m, out), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(m.To + "/system/: is a link"), std::string::npos) << err;
    EXPECT_EQ(Shell("ls -A " + victim), "");
    EXPECT_TRUE(Exists(m.To + "/oemf/firmware.txt")) << "the other folders go on";
    for (const char* mode : {"777", "775", "1777"}) {
        Shell("chmod " + std::string(mode) + " " + m.To);
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunMirror(m, out), 1) << mode;
        err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(m.To + "/: other users can write to it"), std::string::npos) << err;
    }

    // The same for a folder that serves as firmware server.
    Shell("chmod 755 " + m.To + "; rm " + m.To + "/system; chmod 777 " + Root + "mirror/system");
    auto o = For(*Sim->Find(sim::TSeries::F));
    o.Firmware = "system";
    o.FirmwareServer = Root + "mirror";
    int code = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run(o, code).back(), "Failed to read version information of the latest rom.");
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("mirror/system: other users can write to it"), std::string::npos) << err;
    Shell("chmod 755 " + Root + "mirror/system");
    Run(o, code);
    EXPECT_EQ(code, 0);
}

namespace {

std::vector<std::string> SessionFolders(const std::string& temp) {
    std::vector<std::string> out;
    std::istringstream ls(Shell("ls -A " + temp));
    for (std::string name; std::getline(ls, name);)
        if (name.rfind(".session-", 0) == 0) out.push_back(name);
    return out;
}

} // namespace

TEST_F(CliEndToEnd, SessionFoldersOfADeadProcessAreRemovedAndThoseOfALiveOneKept) {
    sim::TSimCamera& f = StartOne(sim::TSeries::F, [](sim::TCameraFaults& x) { x.UploadHang = true; });
    // A real run that holds its session folder while its upload waits for an answer.
    std::string port = std::to_string(f.Port()), server = Sim->Firmware().BaseURL();
    std::vector<const char*> argv = {IPCAM_CLI_PATH,      "upgrade",      "--ip", "127.0.0.1",  "--port",
                                     port.c_str(),        "--series",     "F",    "--firmware", "system",
                                     "--firmware-server", server.c_str(), nullptr};
    std::vector<std::string> env = {"IPCAM_TIME_SCALE=1"}; // its upload waits as long as a real one
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("IPCAM_TIME_SCALE=", 0) != 0) env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t child = fork();
    if (child == 0) {
        dup2(null, 1);
        dup2(null, 2);
        execve(IPCAM_CLI_PATH, const_cast<char* const*>(argv.data()), envp.data());
        _exit(127);
    }
    close(null);
    for (int i = 0; i < 3000 && SessionFolders(Temp).empty(); ++i)
        platform::Sleep(100);
    std::vector<std::string> live = SessionFolders(Temp);
    ASSERT_EQ(live.size(), 1u);
    // One left behind by a process long gone, with a hard link to a whole image.
    ASSERT_EQ(mkdir((Temp + ".session-left").c_str(), 0700), 0);
    WriteFile(Temp + ".session-left/image.bin", std::string(1 << 20, 'i'));

    TFSYSUpgrade next;
    ASSERT_EQ(next.PrepareLocalPackage(Root + "fm/system/F-sys-48.2.0.11.zip", "", ""), 0);
    std::vector<std::string> now = SessionFolders(Temp);
    EXPECT_EQ(now.size(), 2u);
    EXPECT_NE(std::find(now.begin(), now.end(), live[0]), now.end()) << "the live session keeps its folder";
    EXPECT_EQ(std::find(now.begin(), now.end(), ".session-left"), now.end());

    // Killed as a second Ctrl-C would end it: its folder stays until the next session starts.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(SessionFolders(Temp).size(), 2u);
    TFSYSUpgrade third;
    ASSERT_EQ(third.PrepareLocalPackage(Root + "fm/system/F-sys-48.2.0.11.zip", "", ""), 0);
    now = SessionFolders(Temp);
    EXPECT_EQ(now.size(), 2u) << "the two objects alive here";
    EXPECT_EQ(std::find(now.begin(), now.end(), live[0]), now.end());
}
