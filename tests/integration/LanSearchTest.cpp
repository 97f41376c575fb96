// The search on real loopback sockets against the simulator's cameras: every series' dialect,
// the command line's output, hostile answers, and a shutdown while datagrams are in flight.
#include "discovery/LanSearch.h"
#include "cli/CliApp.h"
#include "discovery/NetHelpers.h"
#include "dvsnet/WsDiscovery.h"
#include "platform/Fd.h"
#include "transport/DeviceControlLibrary.h"

#include "SimDemo.h"
#include "SimWsd.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

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
    // A control byte is no XML character: an answer that carries one is refused whole, so the
    // name shows quotes and an ampersand, which the answer writes as entities.
    sim::TWsdCamera standard("127.0.0.1", 8899, "Any \"Maker\" & Co", "5e1b7a4c-1111-4222-8333-944455566677");
    TCliSearchOptions o;
    o.Format = "json";
    o.Rounds = 20; // every tick probes again: a loaded machine gets its chances
    std::ostringstream out;
    std::ostringstream notes;
    ASSERT_EQ(RunSearch(o, out, notes), 0);
    std::string json = out.str();
    for (auto& cam : sim.Cameras()) {
        std::string port = "\"port\": " + std::to_string(cam->Port());
        ASSERT_NE(json.find(port), std::string::npos) << sim::SeriesName(cam->Config().Series) << "\n"
                                                      << json;
        EXPECT_EQ(Field(json, port, "series"),
                  std::string("\"") + sim::SeriesName(cam->Config().Series) + "\"");
        EXPECT_EQ(Field(json, port, "ip"), "\"" + cam->Config().Address + "\"");
    }
    // The standard camera comes through the external library, typed as a standard camera.
    EXPECT_EQ(Field(json, "\"port\": 8899", "series"), "\"ONVIF\"") << json;
    EXPECT_EQ(Field(json, "\"port\": 8899", "name"), "\"Any \\\"Maker\\\" & Co\"");
    EXPECT_EQ(Field(json, "\"port\": 8899", "devType"), "12");
    EXPECT_EQ(Field(json, "\"port\": 8899", "type"), "\"S\"");
    EXPECT_EQ(json.find("not-a-secret"), std::string::npos) << "no DDNS secret is printed";
    std::string file = Root + "out.json";
    WriteFile(file, json);
    if (system("command -v python3 >/dev/null 2>&1") == 0) {
        EXPECT_EQ(Shell("python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' " + file),
                  "6\n");
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

TEST(WsDiscovery, ProbeMatchesAreReadWithinTheirBounds) {
    std::string m = sim::ProbeMatches("uuid:1", "aaaa-1", "Front Door", "192.168.1.64", 8000);
    auto found = wsd::ParseProbeMatches(m);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].Name, "Front Door");
    EXPECT_EQ(found[0].Host, "192.168.1.64");
    EXPECT_EQ(found[0].Port, 8000);
    EXPECT_EQ(found[0].Endpoint, "urn:uuid:aaaa-1");
    auto other =
        wsd::ParseProbeMatches(sim::ProbeMatches("uuid:1", "aaaa-2", "Front Door", "192.168.1.64", 8000));
    ASSERT_EQ(other.size(), 1u);
    EXPECT_NE(std::string(reinterpret_cast<char*>(found[0].Id), 6),
              std::string(reinterpret_cast<char*>(other[0].Id), 6))
        << "two endpoints never share an identifier";
    // No XAddr, a port out of range, an unclosed element, a probe: nothing or no port.
    EXPECT_TRUE(wsd::ParseProbeMatches(
                    "<d:ProbeMatches><d:ProbeMatch><a:Address>x</a:Address></d:ProbeMatch></d:ProbeMatches>")
                    .empty());
    auto bad = wsd::ParseProbeMatches(sim::ProbeMatches("u", "b", "n", "10.0.0.1", 70000));
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].Port, 0);
    EXPECT_TRUE(wsd::ParseProbeMatches("<d:ProbeMatches><d:ProbeMatch>").empty());
    EXPECT_TRUE(wsd::ParseProbeMatches(wsd::Probe("1")).empty());
    // A document type, and with it any entity of its own, is refused whole.
    std::string bomb = "<!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\">]>" + m;
    EXPECT_TRUE(wsd::ParseProbeMatches(bomb).empty());
    // The predefined entities and character references are decoded, in names and addresses.
    auto named =
        wsd::ParseProbeMatches(sim::ProbeMatches("uuid:1", "a&b", "Lobby&Hall", "192.168.1.64", 8000));
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].Name, "Lobby&Hall");
    EXPECT_EQ(named[0].Endpoint, "urn:uuid:a&b");
    std::string raw = m;
    raw.replace(raw.find("Front%20Door"), 12, "Lobby&amp;Hall&#33;");
    ASSERT_EQ(wsd::ParseProbeMatches(raw).size(), 1u);
    EXPECT_EQ(wsd::ParseProbeMatches(raw)[0].Name, "Lobby&Hall!");
    EXPECT_TRUE(wsd::ParseProbeMatches(m + std::string(wsd::MaxMessage, ' ')).empty());
}

TEST(SearchProbes, EveryProbeLeavesARealSocketAsDesigned) {
    // A receiver on the loopback broadcast address, where IPCAM_BROADCAST_ADDR sends the probes.
    platform::TFd rx(platform::OpenSocket(SOCK_DGRAM, true));
    ASSERT_TRUE(rx.Valid());
    ASSERT_TRUE(platform::BindIPv4(rx.Get(), "127.255.255.255", 0));
    sockaddr_in me{};
    socklen_t len = sizeof me;
    getsockname(rx.Get(), reinterpret_cast<sockaddr*>(&me), &len);
    int port = ntohs(me.sin_port);
    TUdpListener tx;
    ASSERT_TRUE(TTools_Net::BindFirstFreePort(tx, 20000));
    struct TProbe {
        void (*Send)(int, IDatagramPort&);
        std::string Bytes;
    } probes[] = {{SendSq610Probe, Sq610Probe()},
                  {SendMoiProbe, MoiProbe()},
                  {SendUicamProbe, "uicam query"},
                  {SendCtpSearchProbe, "SEARCH * CTP/1.0\r\nFrom:0.0.0.0\r\n\r\n"},
                  {SendBinaryProbe, std::string("\x10\x10\x01\x0F\0\0\0\0", 8)}};
    for (const TProbe& p : probes) {
        p.Send(port, tx);
        ASSERT_EQ(platform::WaitFd(rx.Get(), POLLIN, 2000), 1);
        char buf[2048];
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        ssize_t n = recvfrom(rx.Get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen);
        EXPECT_EQ(std::string(buf, static_cast<size_t>(std::max<ssize_t>(n, 0))), p.Bytes);
        EXPECT_EQ(ntohs(from.sin_port), tx.Port()) << "answers come back to the listener";
    }
}
