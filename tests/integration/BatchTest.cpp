#include "cli/BatchCommand.h"
#include "cli/CliApp.h"
#include "lang/Lang.h"
#include "upgrade/PackageFiles.h"

#include "SimDemo.h"
#include "SimImage.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

using namespace testsupport;

namespace {

// The value of a string or number key of one JSON line (enough for the lines the tool writes).
std::string Field(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\": ");
    if (at == std::string::npos) return "<missing>";
    at += key.size() + 4;
    if (line[at] != '"') return line.substr(at, line.find_first_of(",}", at) - at);
    return line.substr(at + 1, line.find('"', at + 1) - at - 1);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

class Batch : public TSandbox {
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
    void Start(std::vector<sim::TCameraConfig> cameras) {
        for (auto& c : cameras)
            c.RebootMs = 1000;
        Sim = std::make_unique<sim::TSimulation>(Root + "fm", cameras, "127.0.0.1", 0, true,
                                                 [this](const std::string& line) { Seen(line); });
    }
    void Seen(const std::string& line) {
        std::lock_guard g(FLock);
        if (line.find("firmware GET") == 0 && line.find(".zip") != std::string::npos) ++Downloads[line];
        if (OnLine) OnLine(line);
    }
    // A camera list of the simulation's cameras; passwords[i], when given, in a password column.
    std::string List(const std::map<size_t, std::string>& passwords = {}) {
        std::string csv = "IP,Port,Series,User" + std::string(passwords.empty() ? "" : ",Password") + "\r\n";
        for (size_t i = 0; i < Sim->Cameras().size(); ++i) {
            const sim::TCameraConfig& c = Sim->Cameras()[i]->Config();
            csv += c.Address + "," + std::to_string(Sim->Cameras()[i]->Port()) + "," +
                   sim::SeriesName(c.Series) + ",admin";
            if (!passwords.empty()) csv += "," + (passwords.count(i) ? passwords.at(i) : std::string());
            csv += "\r\n";
        }
        std::string path = Root + "cameras.csv";
        WriteFile(path, csv);
        chmod(path.c_str(), 0600);
        return path;
    }
    TCliBatchOptions Options(const std::string& list) {
        TCliBatchOptions o;
        o.CamerasFile = list;
        o.FirmwareServer = Sim->Firmware().BaseURL();
        o.Lang = "en";
        o.Json = true;
        return o;
    }
    int Run(const TCliBatchOptions& o, std::string& out, const std::atomic<bool>* stop = nullptr) {
        std::ostringstream s;
        std::istringstream in;
        int rc = RunBatch(o, in, s, stop);
        out = s.str();
        return rc;
    }
    bool ValidJsonLines(const std::string& text) {
        WriteFile(Root + "out.json", text);
        return Shell("python3 -c 'import json,sys\nfor l in sys.stdin: json.loads(l)\nprint(\"ok\")' < " +
                     Root + "out.json") == "ok\n";
    }

    std::unique_ptr<sim::TSimulation> Sim;
    std::mutex FLock;
    std::map<std::string, int> Downloads;
    std::function<void(const std::string&)> OnLine;
};

} // namespace

TEST_F(Batch, ADozenCamerasOfEverySeriesEachPackageOnceAndFailuresBesideTheOthers) {
    std::vector<sim::TCameraConfig> cams = sim::ManyCameras("127.0.0.1", 12);
    cams[2].Faults.UploadStatus = 500;   // H: the upload refused
    cams[3].Faults.RebootForever = true; // T: never back
    Start(cams);
    // F: a wrong password in its row
    TCliBatchOptions o = Options(List({{1, "wrong"}}));
    o.Jobs = 4;
    std::string out;
    EXPECT_EQ(Run(o, out), 1);
    ASSERT_TRUE(ValidJsonLines(out)) << out;
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 12u * 2 + 1);
    std::map<std::string, std::string> outcome, line; // "port firmware" -> outcome, JSON line
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string& l = lines[i];
        outcome[Field(l, "port") + " " + Field(l, "firmware")] = Field(l, "outcome");
        line[Field(l, "port") + " " + Field(l, "firmware")] = l;
        for (const char* key : {"camera", "firmware", "outcome", "key", "text", "versionBefore",
                                "versionOffered", "versionAfter", "durationMs", "log"})
            EXPECT_NE(Field(l, key), "<missing>") << key << " in " << l;
        if (Field(l, "outcome") == "upgraded") {
            EXPECT_EQ(Field(l, "versionAfter"), Field(l, "versionOffered")) << l;
        }
    }
    for (size_t i = 0; i < cams.size(); ++i) {
        std::string port = std::to_string(Sim->Cameras()[i]->Port());
        bool fails = i >= 1 && i <= 3;
        for (const char* kind : {"system", "ui"})
            EXPECT_EQ(outcome[port + " " + kind], fails ? "failed" : "upgraded") << line[port + " " + kind];
        EXPECT_EQ(Sim->Cameras()[i]->Upgrades(), i == 1 || i == 2 ? 0 : i == 3 ? 1 : 2) << i;
    }
    EXPECT_EQ(Field(lines.back(), "summary"), "true");
    EXPECT_EQ(Field(lines.back(), "upgraded"), "18");
    EXPECT_EQ(Field(lines.back(), "failed"), "6");
    // Five series, two kinds: ten packages, each fetched once for all the cameras that need it.
    EXPECT_EQ(Downloads.size(), 10u);
    for (const auto& [line, n] : Downloads)
        EXPECT_EQ(n, 1) << line;
}

TEST_F(Batch, CtrlCStartsNoMoreSessionsAndLetsTheRunningUploadEnd) {
    std::vector<sim::TCameraConfig> cams = sim::ManyCameras("127.0.0.1", 6);
    Start({cams[1], cams[2], cams[1], cams[2]});
    std::atomic<bool> stop{false};
    OnLine = [&](const std::string& line) {
        if (line.find("upload of") != std::string::npos) stop = true; // the first upload is in
    };
    TCliBatchOptions o = Options(List());
    o.Jobs = 1;
    o.Firmware = "system";
    std::string out;
    EXPECT_EQ(Run(o, out, &stop), 1);
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Field(lines[0], "outcome"), "upgraded");
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(Field(lines[i], "outcome"), "cancelled") << lines[i];
    EXPECT_EQ(Field(lines[4], "cancelled"), "3");
    EXPECT_EQ(Sim->Cameras()[0]->Upgrades(), 1);
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(Sim->Cameras()[i]->Upgrades(), 0);
}

TEST_F(Batch, CheckReportsVersionsAndDownloadsNothing) {
    std::vector<sim::TCameraConfig> cams = sim::ManyCameras("127.0.0.1", 3);
    sim::TCameraConfig current = cams[1];
    current.SysVersion = sim::NextVersion(cams[1].SysVersion); // runs what the list offers
    Start({cams[1], current, cams[2]});
    TCliBatchOptions o = Options(List());
    o.Check = true;
    o.Firmware = "system";
    o.Json = false;
    std::string out;
    EXPECT_EQ(Run(o, out), 0);
    EXPECT_TRUE(Downloads.empty());
    for (auto& c : Sim->Cameras())
        EXPECT_EQ(c->Upgrades(), 0);
    std::vector<std::string> lines = Lines(out);
    ASSERT_GE(lines.size(), 4u);
    std::vector<std::string> table(lines.end() - 4, lines.end());
    EXPECT_EQ(table[0].substr(0, 6), "Camera");
    EXPECT_NE(table[1].find("update-available  48.2.0.10  48.2.0.11"), std::string::npos) << table[1];
    EXPECT_NE(table[2].find("up-to-date"), std::string::npos) << table[2];
    EXPECT_NE(table[3].find("update-available  48.3.1.7   48.3.1.8"), std::string::npos) << table[3];
    // The log lines carry the camera before the designed text.
    std::string first =
        Sim->Cameras()[0]->Config().Address + ":" + std::to_string(Sim->Cameras()[0]->Port()) + "  ";
    size_t carrying = 0;
    for (const std::string& l : lines)
        carrying += l.rfind(first, 0) == 0;
    EXPECT_EQ(carrying, 3u + 1) << "three log lines and its row of the table\n" << out;
}

TEST_F(Batch, PasswordsInAListOthersCanReadAreRefused) {
    Start({sim::ManyCameras("127.0.0.1", 2)[1]});
    TCliBatchOptions o = Options(List({{0, "530274"}}));
    o.Check = true;
    chmod(o.CamerasFile.c_str(), 0644);
    std::string out;
    EXPECT_EQ(Run(o, out), 2);
    EXPECT_EQ(out, "");
    chmod(o.CamerasFile.c_str(), 0600);
    EXPECT_EQ(Run(o, out), 0);
    o.FromSearch = true; // and a list
    EXPECT_EQ(Run(o, out), 2);
}

TEST_F(Batch, FromSearchTakesTheSeriesAsked) {
    Start(sim::ManyCameras("127.0.0.1", 5));
    TCliBatchOptions o = Options("");
    o.FromSearch = true;
    o.Series = "H,C";
    o.Rounds = 2;
    o.External = false;
    o.Check = true;
    o.Firmware = "ui";
    std::string out;
    EXPECT_EQ(Run(o, out), 0);
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u) << out;
    std::set<std::string> series{Field(lines[0], "series"), Field(lines[1], "series")};
    EXPECT_EQ(series, (std::set<std::string>{"H", "C"}));
    EXPECT_EQ(Field(lines[0], "outcome"), "update-available");
}

TEST_F(Batch, LocalPackagesZipImageAndPk2WithTheirDigests) {
    std::vector<sim::TCameraConfig> cams = sim::ManyCameras("127.0.0.1", 3);
    Start({cams[0], cams[1], cams[2]});
    std::string e = Root + "fm/system/E-sys-47.2.4.18.zip", f = Root + "fm/system/F-sys-48.2.0.11.zip";
    ASSERT_TRUE(Exists(e) && Exists(f));
    // An H image as the package would hold it, given as it is.
    std::string h = Root + "H-sys-48.3.1.8.bin";
    sim::WriteImageFile(h, sim::TKind::System, "48.3.1.8", 4096);
    // The E package unpacked: its .pk2.
    ASSERT_TRUE(TUpgradeOpt::UnzipFile(e, Root + "E-sys-47.2.4.18.pk2"));
    struct TCase {
        size_t Camera;
        std::string Package, Version;
    } cases[] = {{0, Root + "E-sys-47.2.4.18.pk2", "47.2.4.18"}, {1, f, "48.2.0.11"}, {2, h, "48.3.1.8"}};
    for (const TCase& c : cases) {
        TCliUpgradeOptions o = OptionsFor(*Sim, *Sim->Cameras()[c.Camera], "system");
        o.FirmwareServer = "http://firmware-server.invalid/FM/"; // never asked
        o.Package = c.Package;
        o.SHA256 = std::string(64, '0');
        o.Json = true;
        std::string log;
        EXPECT_EQ(RunCli(o, log), 1);
        EXPECT_EQ(Field(log, "key"), "IDS_MD5ERROR") << log;
        EXPECT_EQ(Sim->Cameras()[c.Camera]->Upgrades(), 0) << "a wrong digest is refused before any upload";
        o.SHA256 = TUpgradeOpt::FileSHA256(c.Package);
        o.MD5 = TUpgradeOpt::FileMD5(c.Package);
        EXPECT_EQ(RunCli(o, log), 0) << log;
        EXPECT_EQ(Field(log, "outcome"), "upgraded") << log;
        EXPECT_EQ(Sim->Cameras()[c.Camera]->SysVersion(), c.Version);
    }
    EXPECT_EQ(Sim->Firmware().Requests(), 0);
}

TEST_F(Batch, CtrlCOfTheProgramEndsTheRunAfterTheUploadUnderWay) {
    std::vector<sim::TCameraConfig> cams = sim::ManyCameras("127.0.0.1", 3);
    Start({cams[1], cams[2], cams[1]});
    std::string list = List();
    std::atomic<pid_t> child{-1};
    std::atomic<bool> sent{false};
    OnLine = [&](const std::string& line) {
        if (line.find("upload of") != std::string::npos && child > 0 && !sent.exchange(true))
            kill(child, SIGINT);
    };
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        execl(IPCAM_CLI_PATH, IPCAM_CLI_PATH, "batch", "--cameras", list.c_str(), "--jobs", "1", "--firmware",
              "system", "--json", "--lang", "en", "--firmware-server", Sim->Firmware().BaseURL().c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    child = pid;
    close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(text.find("stopped by Ctrl-C"), std::string::npos) << text;
    EXPECT_NE(text.find("\"upgraded\": 1,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"cancelled\": 2,"), std::string::npos) << text;
    EXPECT_EQ(Sim->Cameras()[0]->Upgrades() + Sim->Cameras()[1]->Upgrades() + Sim->Cameras()[2]->Upgrades(),
              1);
}
