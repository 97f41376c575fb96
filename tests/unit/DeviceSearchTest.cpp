// The search engine with the network and the clock stood in for: the rows, their countdowns,
// sorting, the selection that follows its device, the result, and the follow-up bounds.
#include "discovery/DeviceSearch.h"

#include <gtest/gtest.h>

#include <map>

namespace {

class TFakeNetwork : public ISearchNetwork {
  public:
    struct TPort : IDatagramPort {
        std::vector<std::pair<std::string, int>> Sent;
        bool SendTo(const std::string& data, const std::string&, int port) override {
            Sent.emplace_back(data, port);
            return true;
        }
    };
    std::map<int, TPort> Ports;
    int LibrarySearches = 0, ExternalSearches = 0;
    IDatagramPort& Listener(int n) override { return Ports[n]; }
    void SearchLibrary() override { ++LibrarySearches; }
    void StartExternal() override { ++ExternalSearches; }
};

TDevInfo Device(int type, const std::string& mac, const std::string& ip, int port,
                const std::string& name = "cam") {
    TDevInfo d;
    d.DevType = type;
    d.MAC = mac;
    d.IP = ip;
    d.HttpPort = static_cast<uint16_t>(port);
    d.DevName = name;
    return d;
}

std::vector<std::string> Ips(const TDeviceSearch& s) {
    std::vector<std::string> out;
    for (size_t i = 0; i < s.Count(); ++i)
        out.push_back(s.Row(i).IP);
    return out;
}

class Search : public ::testing::Test {
  protected:
    TFakeNetwork Net;
    TDeviceSearch S{Net};
};

} // namespace

TEST_F(Search, RoundsSendTheProbesAndTheImagiaQueryEveryThirdRound) {
    S.Find();
    EXPECT_EQ(Net.ExternalSearches, 1);
    EXPECT_EQ(Net.Ports[1].Sent.size(), 2u) << "IMAGIA and SQ610 in round 0";
    EXPECT_EQ(Net.Ports[1].Sent[0].first, "IMAGIAQUERY,0");
    S.SetRound(1);
    for (int i = 0; i < 5; ++i)
        S.Tick();
    // Rounds 1..5: IMAGIA in round 3 only.
    int imagia = 0;
    for (auto& [data, port] : Net.Ports[1].Sent)
        imagia += data == "IMAGIAQUERY,0";
    EXPECT_EQ(imagia, 2);
    EXPECT_EQ(Net.LibrarySearches, 6);
    EXPECT_EQ(Net.ExternalSearches, 1) << "the timer never starts the external search";
    EXPECT_EQ(Net.Ports[5].Sent.back().second, 6801);
}

TEST_F(Search, CountdownsAndExpiry) {
    S.OnFound(Device(2, "AA", "10.0.0.2", 81));
    S.OnFound(Device(8, "BB", "10.0.0.8", 81));
    S.OnFound(Device(4, "CC", "10.0.0.4", 81));
    for (int i = 0; i < 9; ++i)
        S.Tick();
    EXPECT_EQ(S.Count(), 3u);
    S.Tick();
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"10.0.0.4", "10.0.0.8"})) << "type 2 gone after 10 ticks";
    for (int i = 0; i < 20; ++i)
        S.Tick();
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"10.0.0.4"})) << "type 8 after 30, type 4 never";
    // A refresh starts the count again; an IP change of a listed MAC moves the row.
    S.OnFound(Device(2, "AA", "10.0.0.2", 81));
    for (int i = 0; i < 9; ++i) {
        S.Tick();
        if (i == 4) S.OnFound(Device(2, "AA", "10.0.0.99", 81));
    }
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"10.0.0.4", "10.0.0.99"}));
    // Ten ticks after its last answer (four have passed), and not one before.
    for (int i = 0; i < 5; ++i)
        S.Tick();
    EXPECT_EQ(S.Count(), 2u);
    S.Tick();
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"10.0.0.4"}));
    S.Find();
    EXPECT_EQ(S.Count(), 0u) << "Find clears type 4 rows too";
}

TEST_F(Search, KeysMacFormsAndDevicesWithoutMac) {
    EXPECT_FALSE(S.AddOrUpdateDevice(Device(-1, "AA", "10.0.0.1", 81)));
    EXPECT_TRUE(S.AddOrUpdateDevice(Device(8, "001a2b3c4d5e", "10.0.0.1", 81)));
    EXPECT_TRUE(S.AddOrUpdateDevice(Device(9, "00:1A:2B:3C:4D:5E", "10.0.0.1", 81)));
    EXPECT_TRUE(S.AddOrUpdateDevice(Device(5, "", "10.0.0.2", 81)));
    EXPECT_TRUE(S.AddOrUpdateDevice(Device(5, "", "10.0.0.3", 81)));
    EXPECT_FALSE(S.AddOrUpdateDevice(Device(5, "", "10.0.0.3", 81)));
    EXPECT_EQ(S.Count(), 4u);
    ASSERT_NE(S.FindRowByMac("001a2b3c4d5e"), nullptr);
    EXPECT_EQ(S.FindRowByMac(""), nullptr);
    EXPECT_EQ(S.FindRowByMac("001A2B3C4D5E"), nullptr) << "letter case counts";
}

TEST_F(Search, SortingAllColumnsBothWays) {
    S.OnFound(Device(8, "1", "192.168.1.10", 8080, "beta"));
    S.OnFound(Device(2, "2", "192.168.1.9", 81, "Alpha"));
    S.OnFound(Device(9, "3", "192.168.1.100", 81, "gamma"));
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"192.168.1.9", "192.168.1.10", "192.168.1.100"}));
    S.ColumnClick(TDeviceSearch::ColIP);
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"192.168.1.100", "192.168.1.10", "192.168.1.9"}));
    S.ColumnClick(TDeviceSearch::ColName);
    EXPECT_EQ(S.Row(0).DevName, "Alpha");
    S.ColumnClick(TDeviceSearch::ColType);
    EXPECT_EQ(TypeLetter(S.Row(0).DevType), "F");
    S.ColumnClick(TDeviceSearch::ColType);
    EXPECT_EQ(TypeLetter(S.Row(0).DevType), "T");
    // Ports numerically, equal ports by address.
    S.ColumnClick(TDeviceSearch::ColPort);
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"192.168.1.9", "192.168.1.100", "192.168.1.10"}));
    S.ColumnClick(TDeviceSearch::ColPort);
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"192.168.1.10", "192.168.1.100", "192.168.1.9"}));
}

TEST_F(Search, TheSelectionFollowsItsDeviceAndTheResult) {
    TDeviceSearch::TResult r;
    EXPECT_FALSE(S.Ok(r));
    EXPECT_EQ(r.nTYpe, -1);
    S.OnFound(Device(8, "H", "10.0.0.20", 81));
    EXPECT_EQ(S.Selected(), 0) << "the first row is selected";
    S.OnFound(Device(11, "F", "10.0.0.30", 82));
    S.Select(1);
    ASSERT_TRUE(S.Ok(r));
    EXPECT_EQ(r.szIP, "10.0.0.30");
    EXPECT_EQ(r.nPort, 82);
    EXPECT_EQ(r.nTYpe, -1) << "type 11 gives no series";
    // A row that sorts before the chosen one: the choice stays on its camera.
    S.OnFound(Device(5, "E", "10.0.0.1", 83));
    ASSERT_TRUE(S.Ok(r));
    EXPECT_EQ(r.szIP, "10.0.0.30");
    S.OnFound(Device(11, "F", "10.0.0.5", 82)); // its address changes and it moves up
    ASSERT_TRUE(S.Ok(r));
    EXPECT_EQ(r.szIP, "10.0.0.5");
    // The chosen camera stops answering: no choice is left, OK acts as Cancel.
    for (int i = 0; i < 10; ++i) {
        S.OnFound(Device(5, "E", "10.0.0.1", 83));
        S.Tick();
    }
    EXPECT_EQ(S.Selected(), -1);
    EXPECT_FALSE(S.Ok(r));
    EXPECT_EQ(TDeviceSearch::SeriesIndexOfType(4), -1);
    EXPECT_EQ(TDeviceSearch::SeriesIndexOfType(10), 4);
}

TEST_F(Search, AStandardCameraIsTypedAndPickedAsOnvif) {
    S.OnFound(Device(StandardCameraType, "5e1b7a4c1111", "10.0.0.40", 8080, "Lobby&Hall"));
    EXPECT_EQ(TDeviceSearch::Cell(S.Row(0), TDeviceSearch::ColType), "S");
    TDeviceSearch::TResult r;
    ASSERT_TRUE(S.Ok(r));
    EXPECT_EQ(r.nTYpe, 5);
    EXPECT_EQ(r.nPort, 8080);
    for (int i = 0; i < 40; ++i)
        S.Tick();
    EXPECT_EQ(S.Count(), 1u) << "found by the external library: never expires";
}

TEST_F(Search, BinaryFollowUpsAreBoundedPerRound) {
    std::string offer = std::string("\x10\x10\x01\x8F\x00\x00\x84\x00", 8) + std::string(132, 'o');
    for (int i = 0; i < 3; ++i)
        S.OnDatagram(offer, "127.0.0.9", 6801); // the same offer again: one follow-up
    EXPECT_EQ(Net.Ports[5].Sent.size(), 1u);
    for (int i = 0; i < 200; ++i)
        S.OnDatagram(offer, "127.0.0." + std::to_string(i), 6801);
    EXPECT_LE(Net.Ports[5].Sent.size(), static_cast<size_t>(TDeviceSearch::MaxFollowUps));
    S.Tick(); // a new round: the probe and new follow-ups again
    size_t before = Net.Ports[5].Sent.size();
    S.OnDatagram(offer, "127.0.0.9", 6801);
    EXPECT_EQ(Net.Ports[5].Sent.size(), before + 1);
    EXPECT_EQ(S.Count(), 0u) << "offers list nothing";
}
