#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "transport/DeviceControlLibrary.h"
#include "upgrade/CSeries.h"
#include "upgrade/TSeries.h"

#include "SimDemo.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class Zolt : public TLangSandbox {
  protected:
    void SetUp() override {
        TLangSandbox::SetUp();
        CreateZoltSeries();
    }
    void TearDown() override {
        ReleaseZoltSeries();
        TLangSandbox::TearDown();
    }
    template <class T> void Aim(T& u, TTestHttpServer& srv) {
        u.SetIP(srv.Address());
        u.SetPort(srv.Port());
    }
};

} // namespace

TEST_F(Zolt, LoginCodes) {
    TTestHttpServer srv;
    TWithImage<TTSYSUpgrade> u;
    Aim(u, srv);
    u.SetPassword("PW");
    srv.On("/get_status.cgi", Answer(200, "var result=\"Auth Failed\";"));
    EXPECT_EQ(u.Login(), 1);
    EXPECT_EQ(srv.CountFor("/oem.txt"), 0u);
    EXPECT_EQ(RequestLine(srv.Requests()[0]), "GET /get_status.cgi?user=admin&pwd=pw HTTP/1.1");
    EXPECT_EQ(HeaderOf(srv.Requests()[0], "Authorization"), "");
    srv.On("/get_status.cgi", Answer(200, "var deviceid=\"ABC123\";\nvar sys_ver=\"1.2.3.4\";"));
    srv.On("/oem.txt", Answer(200, ""));
    EXPECT_EQ(u.Login(), 2);
    EXPECT_EQ(u.Oem(), "");
    srv.On("/oem.txt", Answer(404, "", "", "Not Found"));
    EXPECT_EQ(u.Login(), 2);
    srv.On("/oem.txt", Answer(200, "OEMT"));
    EXPECT_EQ(u.Login(), 0);
    EXPECT_EQ(u.Oem(), "OEMT");
    EXPECT_EQ(u.GetDeviceID(), "\"ABC123\"");
    srv.On("/get_status.cgi", Answer(200, ""));
    EXPECT_EQ(u.Login(), 2);
}

TEST_F(Zolt, VersionRules) {
    TTestHttpServer srv;
    TWithImage<TCUIUpgrade> ui;
    TWithImage<TCSYSUpgrade> sys;
    Aim(ui, srv);
    Aim(sys, srv);
    srv.On("/appver.js", Answer(200, "var app_ver=\"5.2.0.9\";"));
    EXPECT_TRUE(ui.ReadCurrentVersion());
    EXPECT_EQ(ui.GetModel(), "");
    EXPECT_EQ(ui.GetCurVersion(), "5.2.0.9");
    EXPECT_EQ(ui.GetSectionName(), "5.2.0");
    srv.On("/appver.js", Answer(200, "var app_model=\"C9\";"));
    EXPECT_FALSE(ui.ReadCurrentVersion());
    EXPECT_EQ(ui.GetModel(), "C9");
    srv.On("/appver.js", Answer(200, "var app_model=\"C9\";var app_ver=\"v5.2"));
    EXPECT_TRUE(ui.ReadCurrentVersion());
    EXPECT_EQ(ui.GetCurVersion(), "");

    sys.SetModel("kept");
    srv.On("/appver.js", Answer(404, "", "", "Not Found"));
    TTestHttpServer down;
    srv.On("/get_status.cgi", Answer(200, "var sys_ver=\"48.1.5.3\";"));
    EXPECT_TRUE(sys.ReadCurrentVersion()); // a 404 page is an answer: the model is read from it
    EXPECT_EQ(sys.GetModel(), "");
    EXPECT_EQ(sys.GetCurVersion(), "48.1.5.3");
    sys.SetModel("kept");
    srv.On("/get_status.cgi", Answer(200, "nothing"));
    EXPECT_FALSE(sys.ReadCurrentVersion());
    // appver.js unreachable (the GET itself fails) while the status page answers.
    TTestHttpServer statusOnly;
    statusOnly.On("/get_status.cgi", Answer(200, "var sys_ver=\"48.1.5.3\";"));
    TCanned closed;
    closed.CloseAtOnce = true;
    statusOnly.On("/appver.js", closed);
    Aim(sys, statusOnly);
    sys.SetModel("kept");
    EXPECT_TRUE(sys.ReadCurrentVersion());
    EXPECT_EQ(sys.GetModel(), "kept");
}

TEST_F(Zolt, UploadAddressOfEachSeries) {
    // The T series uploads to port 8600 of the camera's address, the C series to its HTTP port.
    TTestHttpServer camera("127.0.0.41", 0), library("127.0.0.41", 8600);
    camera.On("/upgrade_firmware.cgi", Answer(200, "ok"));
    library.On("/upgrade_firmware.cgi", Answer(200, "ok"));
    library.On("/upgrade_htmls.cgi", Answer(200, "<html>error page</html>"));
    WriteFile(Temp + "img.bin", "image bytes");
    TWithImage<TTSYSUpgrade> t;
    Aim(t, camera);
    t.SetImage(" " + Temp + "img.bin ");
    std::string msg;
    ASSERT_TRUE(t.DoUpgrade(msg));
    EXPECT_EQ(msg, "Successfully upgrading!");
    ASSERT_EQ(library.RequestCount(), 1u);
    EXPECT_EQ(camera.RequestCount(), 0u);
    std::string raw = library.Requests()[0];
    EXPECT_EQ(RequestLine(raw), "POST /upgrade_firmware.cgi?loginuse=admin&loginpas= HTTP/1.0");
    EXPECT_EQ(HeaderOf(raw, "Host"), "127.0.0.41:8600");
    EXPECT_EQ(HeaderOf(raw, "Authorization"), "");
    EXPECT_NE(BodyOf(raw).find("filename=\"img.bin\"\r\nContent-Type: application/x-zip-compressed\r\n"),
              std::string::npos);
    TWithImage<TTUIUpgrade> tui;
    Aim(tui, camera);
    tui.SetImage(Temp + "img.bin");
    EXPECT_TRUE(tui.DoUpgrade(msg)); // 200 with an error page is success

    TWithImage<TCSYSUpgrade> c;
    Aim(c, camera);
    c.SetPassword("530274");
    c.SetImage(Temp + "img.bin");
    ASSERT_TRUE(c.DoUpgrade(msg));
    EXPECT_EQ(RequestLine(camera.Requests().at(0)),
              "POST /upgrade_firmware.cgi?loginuse=admin&loginpas=530274 HTTP/1.0");
    EXPECT_EQ(HeaderOf(camera.Requests().at(0), "Host"), "127.0.0.41:" + std::to_string(camera.Port()));
}

TEST_F(Zolt, BaseAddressRule) {
    TTestHttpServer given("127.0.0.42", 0), fixed("127.0.0.42", 8600);
    given.On("/upgrade_firmware.cgi", Answer(200, ""));
    fixed.On("/upgrade_firmware.cgi", Answer(200, ""));
    WriteFile(Temp + "img.bin", "image");
    struct TCase {
        const char* SysVer;
        bool ToFixed;
    } cases[] = {
        {"48.2.0.121", true}, {"48.2.0.120", false}, {"48.2.0.99", true}, {"48.20.1.5", false}, {"", false}};
    for (const auto& k : cases) {
        TTZoltSeries lib;
        lib.Connect("127.0.0.42", 9, "admin", ""); // no camera there: the texts stay empty
        lib.SetStatusText(std::string("var sys_ver=\"") + k.SysVer + "\";");
        size_t before = fixed.RequestCount();
        EXPECT_TRUE(lib.UpgradeSystemFirmware(given.Base(), "admin", "", Temp + "img.bin")) << k.SysVer;
        EXPECT_EQ(fixed.RequestCount() - before, k.ToFixed ? 1u : 0u) << k.SysVer;
    }
    TTZoltSeries lib;
    lib.Connect("127.0.0.42", given.Port(), "admin", "");
    EXPECT_FALSE(
        lib.UpgradeUIFirmware("", "admin", "", Temp + "img.bin")); // the default base: its CGI answers 404
    EXPECT_EQ(lib.DefaultBaseURL(), "http://127.0.0.42:" + std::to_string(given.Port()));
    EXPECT_THROW(lib.UpgradeSystemFirmware(given.Base(), "admin", "", Temp + "missing.bin"),
                 std::runtime_error);
}

TEST_F(Zolt, FailedUploads) {
    TTestHttpServer srv("127.0.0.43", 0);
    WriteFile(Temp + "img.bin", std::string(100000, 'i'));
    TWithImage<TCUIUpgrade> c;
    Aim(c, srv);
    c.SetImage(Temp + "img.bin");
    TCanned hold, closed;
    hold.Hold = true;
    closed.CloseAtOnce = true;
    closed.ReadBody = false;
    for (const TCanned& a : {Answer(302, "", "Location: reboot.htm\r\n"), Answer(401, "no"), closed, hold}) {
        srv.On("/upgrade_htmls.cgi", a);
        std::string msg;
        EXPECT_FALSE(c.DoUpgrade(msg));
        EXPECT_EQ(msg, "Upgrade failed:");
    }
    int busy = 0;
    platform::SetBusyCursorHook([&](bool on) { busy += on ? 1 : -1; });
    srv.On("/upgrade_htmls.cgi", Answer(200, ""));
    std::string msg;
    EXPECT_TRUE(c.DoUpgrade(msg));
    EXPECT_EQ(busy, 0); // shown and taken back
    platform::SetBusyCursorHook(nullptr);
}

TEST_F(Zolt, EndToEndThroughTheCommandLine) {
    sim::TSimulation simulation(Root + "fm", DemoOf({sim::TSeries::T, sim::TSeries::C}), "127.0.0.1", 0,
                                true);
    for (auto& cam : simulation.Cameras()) {
        std::string sys = cam->SysVersion(), app = cam->AppVersion(), log;
        EXPECT_EQ(RunCli(OptionsFor(simulation, *cam), log), 0) << log;
        EXPECT_EQ(cam->SysVersion(), sim::NextVersion(sys));
        EXPECT_EQ(cam->AppVersion(), sim::NextVersion(app));
        EXPECT_EQ(cam->Upgrades(), 2);
    }
}

TEST_F(Zolt, ParametersOfTheCameraObject) {
    TTestHttpServer srv("127.0.0.44", 0);
    srv.On("/get_params.cgi", Answer(200, "var user1=\"admin\";\r\nvar alias=\"cam\";\r\n"));
    srv.On("/get_status.cgi", Answer(200, "var sys_ver=\"48.2.0.130\";\r\nvar alias=\"other\";\r\n"));
    TTZoltSeries lib;
    lib.Connect("127.0.0.44", srv.Port(), "admin", "pw");
    EXPECT_EQ(srv.CountFor("/get_params.cgi?loginuse=admin&loginpas=pw"), 1u);
    EXPECT_EQ(srv.RequestCount(), 7u);
    EXPECT_EQ(lib.GetParamValue("alias"), "cam"); // get_params is searched first
    EXPECT_EQ(lib.GetParamValue("sys_ver"), "48.2.0.130");
    EXPECT_EQ(lib.GetParamValue("missing"), "");
    EXPECT_TRUE(lib.CheckLogin());
    srv.On("/get_params.cgi", Answer(200, "var result=\"Auth Failed\";"));
    EXPECT_FALSE(lib.CheckLogin());
    srv.Stop();
    EXPECT_FALSE(lib.CheckLogin());
}
