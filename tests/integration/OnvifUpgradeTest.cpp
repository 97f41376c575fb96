// The ONVIF road end to end: the command line's upgrade against the simulator's standard camera,
// with every fault the camera can show.
#include "SimDemo.h"
#include "SimOnvif.h"
#include "cli/CliApp.h"
#include "cli/Sessions.h"
#include "support/Sandbox.h"
#include "transport/OnvifSoap.h"
#include "upgrade/OnvifSeries.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

class OnvifRoad : public testsupport::TSandbox {
  protected:
    void TearDown() override {
        FCamera.reset();
        FSim.reset();
        TSandbox::TearDown();
    }

    // A camera with its firmware list; rebootMs and the faults as given.
    void Start(sim::TOnvifConfig config) {
        config.Address = "127.0.0.1";
        if (config.RebootMs == 20000) config.RebootMs = 1000;
        config.UploadDelayMs = 200;
        sim::BuildOnvifFirmware(Root + "fm/", {config});
        FSim = std::make_unique<sim::TSimulation>(Root + "fm/", std::vector<sim::TCameraConfig>{},
                                                  "127.0.0.1", 0, false);
        FCamera = std::make_unique<sim::TOnvifCamera>(config);
    }

    TCliUpgradeOptions Options(const std::string& password = "Onvif530274") {
        TCliUpgradeOptions o;
        o.IP = "127.0.0.1";
        o.Port = std::to_string(FCamera->Port());
        o.Series = 'O';
        o.User = "admin";
        o.Password = password;
        o.Lang = "en";
        o.Json = true;
        o.Answer = platform::IDYES;
        o.FirmwareServer = FSim->Firmware().BaseURL();
        return o;
    }

    int Run(const TCliUpgradeOptions& o, std::string& out) {
        std::ostringstream s;
        int rc = RunUpgrade(o, s);
        out = s.str();
        return rc;
    }

    std::unique_ptr<sim::TSimulation> FSim;
    std::unique_ptr<sim::TOnvifCamera> FCamera;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(OnvifRoad, UpgradesThroughTheUploadAddressAndReadsTheNewVersion) {
    Start({});
    std::string out;
    EXPECT_EQ(Run(Options(), out), 0) << out;
    EXPECT_TRUE(Has(out, "\"outcome\": \"upgraded\"")) << out;
    EXPECT_TRUE(Has(out, "\"series\": \"onvif\", \"manufacturer\": \"SimVision\", \"model\": \"SV-100\""))
        << out;
    EXPECT_TRUE(
        Has(out, "\"versionBefore\": \"2.1.0\", \"versionOffered\": \"2.1.1\", \"versionAfter\": \"2.1.1\""));
    EXPECT_TRUE(Has(out, "IDS_IPCCONNECTED") && Has(out, "IDS_CURRVERSION") && Has(out, "IDS_IPCWORKING"));
    EXPECT_EQ(FCamera->Upgrades(), 1);
    EXPECT_EQ(FCamera->Version(), "2.1.1");
    EXPECT_EQ(FCamera->Refusals(), 0);
}

TEST_F(OnvifRoad, WaitsAtLeastTheDownTimeTheCameraNames) {
    // 90 s down: longer than the session's own 40 s wait and its ten probes.
    sim::TOnvifConfig c;
    c.RebootMs = 90000;
    Start(c);
    std::string out;
    EXPECT_EQ(Run(Options(), out), 0) << out;
    EXPECT_TRUE(Has(out, "\"outcome\": \"upgraded\"")) << out;
}

TEST_F(OnvifRoad, OlderDevicesGetTheImageAsAnAttachment) {
    sim::TOnvifConfig c;
    c.Faults.LegacyOnly = true;
    Start(c);
    std::string out;
    EXPECT_EQ(Run(Options(), out), 0) << out;
    EXPECT_TRUE(Has(out, "\"versionAfter\": \"2.1.1\"")) << out;
    EXPECT_EQ(FCamera->Upgrades(), 1);
}

TEST_F(OnvifRoad, SlowClockAndHttpDigestAreAnswered) {
    sim::TOnvifConfig c;
    c.Faults.ClockBehindSec = 3600;
    Start(c);
    std::string out;
    EXPECT_EQ(Run(Options(), out), 0) << out;
    EXPECT_EQ(FCamera->Refusals(), 0);

    sim::TOnvifConfig d;
    d.HttpDigest = true;
    d.Port = 0;
    FCamera.reset();
    FCamera = std::make_unique<sim::TOnvifCamera>(d);
    EXPECT_EQ(Run(Options(), out), 0) << out;
    EXPECT_TRUE(Has(out, "\"versionAfter\": \"2.1.1\"")) << out;
}

TEST_F(OnvifRoad, PasswordsAreExactAndWrongOnesRefused) {
    Start({});
    std::string out;
    // The standard compares passwords exactly: the capitals stay.
    EXPECT_EQ(Run(Options("onvif530274"), out), 1);
    EXPECT_TRUE(Has(out, "\"key\": \"IDS_PASSWORDERROR\"")) << out;

    sim::TOnvifConfig c;
    c.Faults.WrongPassword = true;
    c.HttpDigest = true;
    FCamera.reset();
    FCamera = std::make_unique<sim::TOnvifCamera>(c);
    EXPECT_EQ(Run(Options(), out), 1);
    EXPECT_TRUE(Has(out, "\"key\": \"IDS_PASSWORDERROR\"")) << out;
    EXPECT_EQ(FCamera->Upgrades(), 0);
}

TEST_F(OnvifRoad, NoUpgradeCapabilityAndARefusedUpload) {
    sim::TOnvifConfig c;
    c.Faults.NoUpgrade = true;
    Start(c);
    std::string out;
    EXPECT_EQ(Run(Options(), out), 1);
    EXPECT_TRUE(Has(out, "The camera offers no firmware upgrade through ONVIF!")) << out;

    sim::TOnvifConfig r;
    r.Faults.UploadRefused = true;
    FCamera.reset();
    FCamera = std::make_unique<sim::TOnvifCamera>(r);
    EXPECT_EQ(Run(Options(), out), 1);
    EXPECT_TRUE(Has(out, "\"key\": \"IDS_UPGRADEFAIL\"") && Has(out, "HTTP 403")) << out;
    EXPECT_EQ(FCamera->Version(), "2.1.0");
}

TEST_F(OnvifRoad, NeverBackAndBackWithTheOldVersion) {
    sim::TOnvifConfig c;
    c.Faults.RebootForever = true;
    Start(c);
    std::string out;
    EXPECT_EQ(Run(Options(), out), 1);
    EXPECT_TRUE(Has(out, "\"key\": \"IDS_IPCNOTWORK\"")) << out;

    sim::TOnvifConfig o;
    o.Faults.RebootOldVersion = true;
    o.RebootMs = 1000;
    FCamera.reset();
    FCamera = std::make_unique<sim::TOnvifCamera>(o);
    EXPECT_EQ(Run(Options(), out), 1);
    EXPECT_TRUE(Has(out, "\"key\": \"IDS_OLDVERSIONBACK\"") && Has(out, "\"outcome\": \"failed\"")) << out;
}

TEST_F(OnvifRoad, NoListSectionForTheModelAndALocalFile) {
    sim::TOnvifConfig c;
    Start(c);
    sim::TOnvifConfig other;
    other.Model = "SV-999";
    FCamera.reset();
    FCamera = std::make_unique<sim::TOnvifCamera>(other);
    std::string out;
    EXPECT_EQ(Run(Options(), out), 1);
    EXPECT_TRUE(Has(out, "\"key\": \"IDS_DOWNFIRMERR\"")) << out;

    // The operator's own image, checked against its digest first.
    std::string image = Root + "own.bin";
    sim::WriteImageFile(image, sim::TKind::System, "3.0.0", 8192);
    TCliUpgradeOptions o = Options();
    o.Package = image;
    o.SHA256 = std::string(64, '0');
    EXPECT_EQ(Run(o, out), 1);
    EXPECT_TRUE(Has(out, "IDS_MD5ERROR")) << out;
    o.SHA256.clear();
    EXPECT_EQ(Run(o, out), 0) << out;
    EXPECT_EQ(FCamera->Version(), "3.0.0");
}

TEST_F(OnvifRoad, AnUploadAddressOfAnotherHostIsRefused) {
    Start({});
    std::string out;
    // A device service on another loopback address than the camera's own name.
    TOnvifUpgrade u;
    u.SetIP("127.0.0.1");
    u.SetPort(FCamera->Port());
    u.SetUser("admin");
    u.SetPassword("Onvif530274");
    u.SetServiceURL("http://localhost:" + std::to_string(FCamera->Port()) + sim::TOnvifCamera::ServicePath);
    ASSERT_EQ(u.Login(), 0);
    std::string image = Root + "own.bin";
    sim::WriteImageFile(image, sim::TKind::System, "3.0.0", 8192);
    ASSERT_EQ(u.PrepareLocalPackage(image, "", ""), 0);
    std::string message;
    EXPECT_FALSE(u.DoUpgrade(message));
    EXPECT_TRUE(Has(message, "not the camera's")) << message;
    EXPECT_EQ(FCamera->Upgrades(), 0);
}
