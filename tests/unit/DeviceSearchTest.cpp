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
    // 200 cameras of one dialect each get their follow-up in one round; past the bound, none.
    for (int i = 0; i < 199; ++i)
        S.OnDatagram(offer, "127.0.1." + std::to_string(i), 6801);
    EXPECT_EQ(Net.Ports[5].Sent.size(), 200u);
    for (int i = 0; i < 100; ++i)
        S.OnDatagram(offer, "127.0.2." + std::to_string(i), 6801);
    EXPECT_EQ(Net.Ports[5].Sent.size(), static_cast<size_t>(TDeviceSearch::MaxFollowUps));
    S.Tick(); // a new round: the probe and new follow-ups again
    size_t before = Net.Ports[5].Sent.size();
    S.OnDatagram(offer, "127.0.0.9", 6801);
    EXPECT_EQ(Net.Ports[5].Sent.size(), before + 1);
    EXPECT_EQ(S.Count(), 0u) << "offers list nothing";
}

TEST_F(Search, ACameraThatAnsweredForItselfKeepsItsRowWhateverMacAStrangerClaims) {
    TDevInfo real = Device(2, "MAC1", "10.0.0.7", 81, "real");
    real.Source = "10.0.0.7";
    S.OnFound(real);
    // The same MAC from another sender, naming another camera: ignored, the row stays the real one.
    TDevInfo stranger = Device(2, "MAC1", "10.0.0.99", 80, "stranger");
    stranger.Source = "10.0.0.50";
    S.OnFound(stranger);
    ASSERT_EQ(S.Count(), 1u);
    EXPECT_EQ(S.Row(0).IP, "10.0.0.7");
    EXPECT_EQ(S.Row(0).Source, "10.0.0.7");
    // A camera that moves answers for itself from its new address: its row follows, as designed.
    TDevInfo moved = Device(2, "MAC1", "10.0.0.8", 81, "real");
    moved.Source = "10.0.0.8";
    S.OnFound(moved);
    EXPECT_EQ(S.Row(0).IP, "10.0.0.8");
    // A row that no sender vouched for is replaced by the camera's own answer.
    TDevInfo told = Device(2, "MAC2", "10.0.0.20", 81, "told");
    told.Source = "10.0.0.1";
    S.OnFound(told);
    TDevInfo itself = Device(2, "MAC2", "10.0.0.21", 81, "itself");
    itself.Source = "10.0.0.21";
    S.OnFound(itself);
    EXPECT_EQ(Ips(S), (std::vector<std::string>{"10.0.0.8", "10.0.0.21"}));
}

TEST_F(Search, TheListHoldsAtMost4096DevicesAndSaysSoOnce) {
    int told = 0;
    S.OnFull = [&] { ++told; };
    for (int i = 0; i < 5000; ++i)
        S.OnFound(Device(2, "M" + std::to_string(i),
                         "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250), 81));
    EXPECT_EQ(S.Count(), TDeviceSearch::MaxRows);
    EXPECT_EQ(told, 1);
    // Known devices are still refreshed; after a Find the list fills again and may say so again.
    TDevInfo known = Device(2, "M0", "10.0.0.0", 82);
    S.OnFound(known);
    EXPECT_EQ(S.FindRowByMac("M0")->HttpPort, 82);
    S.Find();
    for (int i = 0; i < 4097; ++i)
        S.OnFound(Device(2, "N" + std::to_string(i), "10.1.0.1", 81));
    EXPECT_EQ(told, 2);
}

TEST_F(Search, ADatagramsSenderIsKeptAndADdnsReplyFromAStrangerTouchesNothing) {
    // An information reply of the binary dialect, sent from 127.0.0.9 and naming 127.0.0.9.
    std::string info(160, '\0');
    info.replace(0, 8, std::string("\x10\x10\x12\x8F\0\0\x98\0", 8));
    info.replace(8, 9, "127.0.0.9");
    info[88] = 0x51;
    info.replace(96, 6, "\x01\x02\x03\x04\x05\x06");
    S.OnDatagram(info, "127.0.0.9", 6801);
    ASSERT_EQ(S.Count(), 1u);
    EXPECT_EQ(S.Row(0).Source, "127.0.0.9");
    EXPECT_TRUE(S.Row(0).AnsweredForItself());
    // The same information from a stranger: it names an address it was not sent from.
    S.OnDatagram(info, "127.0.0.66", 6801);
    ASSERT_EQ(S.Count(), 1u);
    EXPECT_EQ(S.Row(0).Source, "127.0.0.9");
}
