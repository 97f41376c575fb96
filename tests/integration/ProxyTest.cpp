// The proxy of the environment: cameras never see it, the firmware server keeps it.
#include "cli/BatchCommand.h"
#include "discovery/NetHelpers.h"
#include "lang/Lang.h"
#include "transport/HttpClient.h"
#include "transport/MultipartUpload.h"
#include "transport/CameraGet.h"
#include "upgrade/PackageFiles.h"

#include "SimDemo.h"
#include "support/Sandbox.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

using namespace testsupport;

namespace {

const char* const kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                       "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

// A sandbox whose environment names a proxy on loopback that records whatever reaches it.
class Proxy : public TSandbox {
  protected:
    void SetUp() override {
        TSandbox::SetUp();
        for (const char* v : kProxyVariables)
            unsetenv(v);
        setenv("http_proxy", FakeProxy.Base().c_str(), 1);
        setenv("HTTP_PROXY", FakeProxy.Base().c_str(), 1);
        setenv("LANG", "C", 1);
    }
    void TearDown() override {
        for (const char* v : kProxyVariables)
            unsetenv(v);
        Sim.reset();
        SetLangDir("");
        TSandbox::TearDown();
    }
    // What reached the proxy, one request line each.
    std::string SeenByProxy() const {
        std::string out;
        for (const std::string& r : FakeProxy.Requests())
            out += RequestLine(r) + "\n";
        return out;
    }

    TTestHttpServer FakeProxy;
    std::unique_ptr<sim::TSimulation> Sim;
};

} // namespace

TEST_F(Proxy, NoCameraRequestOfAnyKindReachesIt) {
    TTestHttpServer camera;
    camera.On("/get_status.cgi", Answer(200, "var sys_ver='48.2.0.10';"));
    camera.On("/appver.js", Answer(200, "var appver='1.0';"));
    camera.On("/get_params.cgi", Answer(200, "var x=1;"));
    camera.On("/upgrade_firmware.cgi", Answer(200, "ok"));
    std::string body;
    EXPECT_TRUE(TTools::HttpGet(camera.Url("/get_status.cgi?user=admin&pwd=secret"), body, 20000, "", ""));
    EXPECT_TRUE(TTools::HttpGet(camera.Url("/appver.js"), body, 20000, "admin", "secret"));
    EXPECT_TRUE(http::GetText(camera.Url("/get_params.cgi?loginuse=admin&loginpas=secret"), body, 20000, "",
                              "", http::CameraPageLimit));
    EXPECT_TRUE(TTools_Net::HttpGetText(camera.Url("/get_params.cgi"), body, 20000, "", ""));
    WriteFile(Root + "image.bin", std::string(4096, 'x'));
    TMultipartBody upload(Root + "image.bin", "image.bin", "application/octet-stream");
    EXPECT_TRUE(PostMultipart("127.0.0.1", camera.Port(), "/upgrade_firmware.cgi?user=admin&pwd=secret",
                              UploadHeaders(upload, HostWithPort("127.0.0.1", camera.Port()), false), upload,
                              20000, 20000)
                    .Accepted);
    EXPECT_EQ(camera.RequestCount(), 5u);
    EXPECT_EQ(SeenByProxy(), "");
}

TEST_F(Proxy, TheFirmwareServerKeepsTheEnvironmentsProxyAndItsExceptions) {
    TTestHttpServer server;
    server.On("/FM/system/firmware.txt", Answer(200, "direct"));
    std::string url = server.Url("/FM/system/firmware.txt");
    // A proxy is asked for the whole URL: it answers for the server.
    FakeProxy.On(url, Answer(200, "through the proxy"));
    ASSERT_TRUE(TUpgradeOpt::DownloadFile(url, Root + "list.txt"));
    EXPECT_EQ(ReadFile(Root + "list.txt"), "through the proxy");
    EXPECT_EQ(SeenByProxy(), "GET " + url + " HTTP/1.1\n");
    EXPECT_EQ(server.RequestCount(), 0u);

    setenv("no_proxy", "127.0.0.1", 1);
    ASSERT_TRUE(TUpgradeOpt::DownloadFile(url, Root + "list.txt"));
    EXPECT_EQ(ReadFile(Root + "list.txt"), "direct");
    EXPECT_EQ(FakeProxy.RequestCount(), 1u);
}

TEST_F(Proxy, AWholeBatchOfEverySeriesUpgradesWithoutASingleRequestToIt) {
    std::vector<sim::TCameraConfig> cams = sim::ManyCameras("127.0.0.1", 5);
    for (auto& c : cams)
        c.RebootMs = 1000;
    Sim = std::make_unique<sim::TSimulation>(Root + "fm", cams, "127.0.0.1", 0, true);
    std::string csv = "ip,port,series\r\n";
    for (const auto& c : Sim->Cameras())
        csv += c->Config().Address + "," + std::to_string(c->Port()) + "," +
               sim::SeriesName(c->Config().Series) + "\r\n";
    WriteFile(Root + "cameras.csv", csv);
    TCliBatchOptions o;
    o.CamerasFile = Root + "cameras.csv";
    o.FirmwareServer = Root + "fm"; // a folder: only the cameras speak HTTP here
    o.Lang = "en";
    o.Json = true;
    o.Jobs = 5;
    std::ostringstream out;
    std::istringstream in;
    EXPECT_EQ(RunBatch(o, in, out), 0) << out.str();
    EXPECT_NE(out.str().find("\"upgraded\": 10"), std::string::npos) << out.str();
    EXPECT_EQ(SeenByProxy(), "");
}
