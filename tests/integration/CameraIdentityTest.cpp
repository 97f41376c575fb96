// Reports name the camera by its MAC and name where the search gave none: read from what the
// session reads of the camera anyway, or asked once of a standard camera.
#include "cli/BatchCommand.h"
#include "cli/UpgradeCommand.h"

#include "SimDemo.h"
#include "SimImage.h"
#include "SimOnvif.h"
#include "platform/Platform.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>

using namespace testsupport;

namespace {

// The value of a key of the line's camera object: the text between quotes, or "<missing>".
std::string CameraField(const std::string& line, const std::string& key) {
    size_t end = line.find('}');
    size_t at = line.find("\"" + key + "\": \"");
    if (at == std::string::npos || at > end) return "<missing>";
    at += key.size() + 5;
    return line.substr(at, line.find('"', at) - at);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) out.push_back(l);
    return out;
}

class CameraIdentity : public TLangSandbox {
  protected:
    void TearDown() override {
        Standard.reset();
        Sim.reset();
        TLangSandbox::TearDown();
    }
    void Start(std::vector<sim::TCameraConfig> cameras) {
        sim::TOnvifConfig standard;
        standard.Address = "127.0.0.1";
        standard.Mac = "02:53:4f:aa:bb:0c";
        standard.RebootMs = 1000;
        standard.UploadDelayMs = 200;
        sim::BuildOnvifFirmware(Root + "fm/", {standard});
        Sim = std::make_unique<sim::TSimulation>(Root + "fm", cameras, "127.0.0.1", 0, true);
        Standard = std::make_unique<sim::TOnvifCamera>(standard);
    }
    TCliUpgradeOptions StandardOptions() {
        TCliUpgradeOptions o;
        o.IP = "127.0.0.1";
        o.Port = std::to_string(Standard->Port());
        o.Series = 'O';
        o.Password = "Onvif530274";
        o.Lang = "en";
        o.FirmwareServer = Sim->Firmware().BaseURL();
        return o;
    }
    std::unique_ptr<sim::TSimulation> Sim;
    std::unique_ptr<sim::TOnvifCamera> Standard;
};

} // namespace

TEST_F(CameraIdentity, AnUpgradeWithoutASearchNamesEachCameraByWhatItSaysOfItself) {
    Start(DemoOf({sim::TSeries::E, sim::TSeries::F, sim::TSeries::H, sim::TSeries::T, sim::TSeries::C}));
    for (auto& cam : Sim->Cameras()) {
        std::string series = sim::SeriesName(cam->Config().Series);
        TCliUpgradeOptions o = OptionsFor(*Sim, *cam, "both");
        o.Check = true;
        o.Json = true;
        std::ostringstream out;
        EXPECT_EQ(RunUpgrade(o, out), 0) << out.str();
        std::vector<std::string> lines = Lines(out.str());
        ASSERT_EQ(lines.size(), 2u) << out.str();
        for (const std::string& line : lines) {
            // The status page's alias, or the E camera's answer to the CTP search; a session that
            // reads neither (the UI firmware of H and E) names the camera by what the first read.
            EXPECT_EQ(CameraField(line, "name"), "SIMCAM-" + series) << line;
            if (series == "E") {
                std::string mac = CameraField(line, "mac");
                EXPECT_EQ(mac.substr(0, 6), "025345") << line;
                EXPECT_EQ(mac.size(), 12u) << line;
            } else {
                EXPECT_EQ(CameraField(line, "mac"), "<missing>") << "the status pages name no MAC\n" << line;
            }
        }
    }
    // A standard camera names its MAC when asked; GetDeviceInformation has no name.
    TCliUpgradeOptions o = StandardOptions();
    o.Check = true;
    o.Json = true;
    std::ostringstream out;
    EXPECT_EQ(RunUpgrade(o, out), 0) << out.str();
    EXPECT_EQ(CameraField(out.str(), "mac"), "02534FAABB0C") << out.str();
    EXPECT_EQ(CameraField(out.str(), "name"), "<missing>");
    // One that refuses the session is not asked, and its outcome is what it was.
    o.Password = "wrong";
    out.str("");
    EXPECT_EQ(RunUpgrade(o, out), 1);
    EXPECT_EQ(CameraField(out.str(), "mac"), "<missing>") << out.str();
    EXPECT_NE(out.str().find("\"outcome\": \"failed\""), std::string::npos) << out.str();
}

TEST_F(CameraIdentity, ASearchForStandardCamerasTakesNoCameraOfAnotherSeries) {
    Start(DemoOf({sim::TSeries::F, sim::TSeries::H}));
    TCliBatchOptions o;
    o.FromSearch = true;
    o.Series = "ONVIF"; // holds the letter F, which named the F camera once
    o.Rounds = 2;
    o.External = false;
    o.Check = true;
    o.FirmwareServer = Sim->Firmware().BaseURL();
    o.Lang = "en";
    o.Json = true;
    std::ostringstream out;
    std::istringstream in;
    EXPECT_EQ(RunBatch(o, in, out), 0) << out.str();
    EXPECT_EQ(Lines(out.str()).size(), 1u) << "the summary only\n" << out.str();
    // With a package and --firmware left at both, a search of other series is refused at once.
    o.Check = false;
    o.Package = Root + "standard.bin";
    sim::WriteImageFile(o.Package, sim::TKind::System, "2.1.7", 4096);
    o.Series = "ONVIF,H";
    out.str("");
    EXPECT_EQ(RunBatch(o, in, out), 2);
    EXPECT_EQ(out.str(), "");
}

TEST_F(CameraIdentity, APackageForBothInAListIsFineForStandardCamerasOnly) {
    Start(DemoOf({sim::TSeries::H}));
    std::string image = Root + "standard.bin";
    sim::WriteImageFile(image, sim::TKind::System, "2.1.7", 4096);
    std::string standardRow =
        "127.0.0.1," + std::to_string(Standard->Port()) + ",onvif,admin,Onvif530274\r\n";
    std::string list = Root + "cameras.csv";
    TCliBatchOptions o;
    o.CamerasFile = list;
    o.Package = image;
    o.Answer = platform::IDYES;
    o.Lang = "en";
    o.Json = true;
    std::istringstream in;
    sim::TSimCamera& h = *Sim->Find(sim::TSeries::H);
    WriteFile(list, "ip,port,series,user,password\r\n" + standardRow + "127.0.0.1," +
                        std::to_string(h.Port()) + ",H,admin,530274\r\n");
    chmod(list.c_str(), 0600);
    std::ostringstream refused;
    EXPECT_EQ(RunBatch(o, in, refused), 2);
    EXPECT_EQ(Standard->Upgrades() + h.Upgrades(), 0) << "refused before any session";
    WriteFile(list, "ip,port,series,user,password\r\n" + standardRow);
    chmod(list.c_str(), 0600);
    std::ostringstream out;
    EXPECT_EQ(RunBatch(o, in, out), 0) << out.str();
    EXPECT_EQ(Standard->Version(), "2.1.7");
}
