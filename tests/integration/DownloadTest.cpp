#include "base/Progress.h"
#include "upgrade/PackageFiles.h"

#include "support/Sandbox.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

using namespace testsupport;

class Download : public TSandbox {};

TEST_F(Download, WritesTheBodyAndFollowsARedirect) {
    TTestHttpServer srv;
    std::string pkg(300000, 'p');
    srv.On("/FM/system/pkg.zip", Answer(200, pkg));
    srv.On("/old.zip", Redirect("/FM/system/pkg.zip", 301));
    ASSERT_TRUE(TUpgradeOpt::DownloadFile(srv.Url("/old.zip"), Temp + "pkg.zip"));
    EXPECT_EQ(ReadFile(Temp + "pkg.zip"), pkg);
    EXPECT_TRUE(Boxes->Shown().empty());
    std::string raw = srv.Requests().at(1);
    EXPECT_EQ(RequestLine(raw), "GET /FM/system/pkg.zip HTTP/1.1");
    EXPECT_EQ(HeaderOf(raw, "User-Agent"), "Mozilla/4.0(compatible; MSIE 6.0; Windows 98; Maxthon)");
    EXPECT_EQ(HeaderOf(raw, "Authorization"), "");
}

TEST_F(Download, ErrorStatusShowsOneBoxAndLeavesTheTarget) {
    TTestHttpServer srv;
    srv.On("/gone", Answer(404, "missing"));
    WriteFile(Temp + "t.zip", "previous content");
    EXPECT_FALSE(TUpgradeOpt::DownloadFile(srv.Url("/gone"), Temp + "t.zip"));
    auto shown = Boxes->Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Caption, "错误");
    EXPECT_EQ(shown[0].Flags, 16);
    EXPECT_NE(shown[0].Text.find("404"), std::string::npos) << shown[0].Text;
    EXPECT_TRUE(Exists(Temp + "t.zip"));
    EXPECT_EQ(ReadFile(Temp + "t.zip"), "");
}

TEST_F(Download, StallLongerThanTheReadTimeoutFails) {
    TTestHttpServer srv;
    TCanned stall = Answer(200, std::string(1000, 's'));
    stall.TrickleBytes = 400;
    stall.TrickleDelayMs = 20 * 3000; // far beyond the scaled 3 s read limit
    srv.On("/slow", stall);
    EXPECT_FALSE(TUpgradeOpt::DownloadFile(srv.Url("/slow"), Temp + "s.zip"));
    ASSERT_EQ(Boxes->Shown().size(), 1u);
    EXPECT_EQ(ReadFile(Temp + "s.zip"), std::string(400, 's')); // what came before the stall stays
}

TEST_F(Download, TrickleWithinTheReadTimeoutSucceeds) {
    TTestHttpServer srv;
    TCanned slow = Answer(200, std::string(2000, 't'));
    slow.TrickleBytes = 250;
    slow.TrickleDelayMs = 1;
    srv.On("/trickle", slow);
    EXPECT_TRUE(TUpgradeOpt::DownloadFile(srv.Url("/trickle"), Temp + "t.zip"));
    EXPECT_EQ(ReadFile(Temp + "t.zip"), std::string(2000, 't'));
}

TEST_F(Download, UnwritableTargetRaises) {
    EXPECT_THROW(TUpgradeOpt::DownloadFile("http://127.0.0.1:9/x", Root + "no/such/dir/file"),
                 std::runtime_error);
    EXPECT_TRUE(Boxes->Shown().empty());
}

TEST_F(Download, ProgressIsReportedUpToTheWholeSize) {
    TTestHttpServer srv;
    std::string body(300000, 'p');
    srv.On("/big", Answer(200, body));
    std::vector<std::pair<int64_t, int64_t>> seen;
    {
        progress::TScope scope([&](progress::TStage stage, int64_t done, int64_t total) {
            EXPECT_EQ(stage, progress::TStage::Download);
            seen.emplace_back(done, total);
        });
        ASSERT_TRUE(TUpgradeOpt::DownloadFile(srv.Url("/big"), Temp + "big"));
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_LE(seen.size(), 1001u) << "at most once a thousandth";
    EXPECT_EQ(seen.back().second, 300000);
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_GE(seen[i].first, seen[i - 1].first);
}
