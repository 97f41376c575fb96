// The search on real loopback sockets against the simulator's cameras: every series' dialect,
// the command line's output, hostile answers, and a shutdown while datagrams are in flight.
#include "cli/CliApp.h"
#include "discovery/LanSearch.h"
#include "transport/SR_Zolt.h"

#include "SimDemo.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace testsupport;

namespace {

class LanSearch : public TLangSandbox {};

std::string Field(const std::string& json, const std::string& ip, const std::string& key) {
    // The value of key in the object whose "port" is ip's port text: enough for these checks.
    size_t at = json.find(ip);
    if (at == std::string::npos) return {};
    size_t obj = json.rfind('{', at);
    size_t k = json.find("\"" + key + "\": ", obj);
    if (k == std::string::npos) return {};
    size_t v = k + key.size() + 4;
    return json.substr(v, json.find_first_of(",}", v) - v);
}

} // namespace

TEST_F(LanSearch, EverySeriesIsFoundWithItsSeriesAndTheJsonIsValid) {
    sim::TSimulation sim(Root + "fm", sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0, true, nullptr, 4096);
    TCliSearchOptions o;
    o.Format = "json";
    o.Rounds = 2;
    o.External = false;
    std::ostringstream out;
    ASSERT_EQ(RunSearch(o, out), 0);
    std::string json = out.str();
    for (auto& cam : sim.Cameras()) {
        std::string port = "\"port\": " + std::to_string(cam->Port());
        ASSERT_NE(json.find(port), std::string::npos) << sim::SeriesName(cam->Config().Series) << "\n" << json;
        EXPECT_EQ(Field(json, port, "series"), std::string("\"") + sim::SeriesName(cam->Config().Series) + "\"");
        EXPECT_EQ(Field(json, port, "ip"), "\"" + cam->Config().Address + "\"");
    }
    EXPECT_EQ(json.find("not-a-secret"), std::string::npos) << "no DDNS secret is printed";
    std::string file = Root + "out.json";
    WriteFile(file, json);
    if (system("command -v python3 >/dev/null 2>&1") == 0) {
        EXPECT_EQ(Shell("python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' " + file), "5\n");
    }
}

TEST_F(LanSearch, HostileAnswersListNothingAndAShutdownUnderAFloodIsClean) {
    auto cams = sim::DemoCameras("127.0.0.1", 0);
    cams[0].Faults.SearchMalformed = true; // E
    cams[1].Faults.SearchTruncated = true; // F: a third of the reply still parses
    cams[2].Faults.SearchFlood = true;     // H: 200 offers a probe
    cams[3].Faults.SearchOversized = true; // T: discarded whole
    cams[4].Faults.SearchSilent = true;    // C
    sim::TSimulation sim(Root + "fm", cams, "127.0.0.1", 0, true, nullptr, 4096);
    CreateZoltSeries();
    for (int attempt = 0; attempt < 3; ++attempt) {
        TLanSearch lan;
        lan.Start();
        platform::Synchronize([&] { lan.Engine().Find(); });
        platform::Sleep(200);
        std::vector<int> types;
        platform::Synchronize([&] {
            for (size_t i = 0; i < lan.Engine().Count(); ++i)
                types.push_back(lan.Engine().Row(i).DevType);
        });
        lan.Shutdown(); // with the flood still arriving
        for (int t : types)
            EXPECT_TRUE(t == 2 || t == 8) << t;
    }
    ReleaseZoltSeries();
}

TEST(ZoltSearch, RepliesGiveTheirTypeFromTheVersion) {
    auto reply = [](const std::string& version, char discard = 0, size_t size = 516) {
        std::string d(516, '\0');
        d.replace(0, 4, std::string("\x44\x48\x01\x08", 4));
        d.replace(4, 8, "10.0.0.7");
        d.replace(84, 6, std::string("\x00\x1a\x2b\x3c\x4d\x5e", 6));
        d[90] = 0x51;
        d.replace(204, version.size(), version);
        d[302] = discard;
        return d.substr(0, size);
    };
    TDevInfo r;
    ASSERT_TRUE(ParseZoltReply(reply("48.2.0.121"), r));
    EXPECT_EQ(r.DevType, 9);
    EXPECT_EQ(r.MAC, "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(r.MACHex, "001A2B3C4D5E");
    EXPECT_EQ(r.HttpPort, 81);
    EXPECT_EQ(r.IP, "10.0.0.7");
    ASSERT_TRUE(ParseZoltReply(reply("48.2.15.1"), r));
    EXPECT_EQ(r.DevType, 11);
    ASSERT_TRUE(ParseZoltReply(reply("48.2.60"), r));
    EXPECT_EQ(r.DevType, 10);
    EXPECT_FALSE(ParseZoltReply(reply("48.2.x.1"), r));
    EXPECT_FALSE(ParseZoltReply(reply(""), r));
    EXPECT_FALSE(ParseZoltReply(reply("48.2.0.1", 1), r));
    EXPECT_FALSE(ParseZoltReply(std::string("\x44\x48\x01\x01", 4), r));
    ASSERT_TRUE(ParseZoltReply(reply("48.2.0.1", 0, 210), r)) << "a short reply is read as far as it goes";
    EXPECT_EQ(r.Version, "48.2.0");
    EXPECT_EQ(r.ReplyUser, "");
}
