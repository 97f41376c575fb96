#include "discovery/SearchReplies.h"
#include "discovery/NetHelpers.h"
#include "transport/DeviceControlLibrary.h"
#include "upgrade/CSeries.h"
#include "upgrade/ESeries.h"
#include "upgrade/FSeries.h"
#include "upgrade/HSeries.h"
#include "upgrade/TSeries.h"
#include "upgrade/UpgradeFactory.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <typeinfo>
#include <vector>

namespace {

// Takes a UDP port on all addresses, as another program would.
int TakeUdpPort(int port) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

} // namespace

TEST(DevInfo, ClearAndCopy) {
    TDevInfo d;
    d.DevType = 9;
    d.MAC = "00:11:22:33:44:55";
    d.IP = "127.0.0.9";
    d.HttpPort = 81;
    d.OwnedBlock = std::make_shared<int>(5);
    TDevInfo copy = d;
    EXPECT_EQ(copy.MAC, d.MAC);
    EXPECT_EQ(copy.HttpPort, 81);
    EXPECT_EQ(copy.OwnedBlock, d.OwnedBlock);
    copy.Clear();
    EXPECT_TRUE(copy.MAC.empty());
    EXPECT_TRUE(copy.IP.empty());
    EXPECT_EQ(copy.HttpPort, 0);
    EXPECT_EQ(copy.DevType, 0);
    EXPECT_EQ(copy.OwnedBlock, nullptr);
    EXPECT_EQ(d.MAC, "00:11:22:33:44:55"); // the original keeps its texts
    copy.ClearForDatagram();
    EXPECT_FALSE(copy.Listable());
    TDevInfo upper = d;
    upper.MAC = "00:11:22:33:44:5A";
    TDevInfo lower = d;
    lower.MAC = "00:11:22:33:44:5a";
    EXPECT_NE(upper.MAC, lower.MAC);
}

TEST(NetHelpers, IpToTextAndCompareDotted) {
    EXPECT_EQ(TTools_Net::IpToText(0xC0, 0xA8, 0x01, 0x09), "192.168.1.9");
    EXPECT_EQ(TTools_Net::IpToText(0, 0, 0, 255), "0.0.0.255");
    EXPECT_EQ(TTools_Net::CompareDotted("192.168.1.10", "192.168.1.9"), 1);
    EXPECT_EQ(TTools_Net::CompareDotted("192.168.1.9", "192.168.1.10"), -1);
    EXPECT_EQ(TTools_Net::CompareDotted("10.0.0.1", "10.0.0.1"), 0);
    EXPECT_LT(TTools_Net::CompareDotted("10.0.0", "10.0.0.1"), 0);
    EXPECT_EQ(TTools_Net::CompareDotted("a.1", "b.1"), 0);
    EXPECT_EQ(TTools_Net::CompareDotted("", ""), 0);
    EXPECT_EQ(TTools_Net::CompareDotted("1..2", "1.0.2"), 0);
    EXPECT_EQ(TTools_Net::CompareDotted("B", "a"), 0);   // one part each: numbers, both 0
    EXPECT_GT(TTools_Net::CompareDotted("B.1", "a"), 0); // letter case ignored in the text comparison
}

TEST(NetHelpers, BindFirstFreePortMovesPastTakenPortsAndFailsWhenAllAreTaken) {
    // Ports of a high range that no one else here uses.
    const int start = 47000;
    int taken = TakeUdpPort(start);
    ASSERT_GE(taken, 0);
    TUdpListener listener;
    ASSERT_TRUE(TTools_Net::BindFirstFreePort(listener, start));
    EXPECT_EQ(listener.Port(), start + 1);
    listener.Deactivate();
    close(taken);

    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < 1200 && lim.rlim_max >= 1200) {
        lim.rlim_cur = 1200;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    std::vector<int> all;
    for (int p = start; p < start + 1000; ++p) {
        int s = TakeUdpPort(p);
        if (s < 0) break;
        all.push_back(s);
    }
    if (all.size() < 1000) {
        for (int s : all)
            close(s);
        GTEST_SKIP() << "could not take the whole range";
    }
    TUdpListener none;
    EXPECT_FALSE(TTools_Net::BindFirstFreePort(none, start));
    EXPECT_FALSE(none.Active());
    for (int s : all)
        close(s);
}

TEST(NetHelpers, HttpGetTextWithAnEmptyUrlSendsNothing) {
    std::string body = "kept";
    EXPECT_FALSE(TTools_Net::HttpGetText("", body, 20000, "", ""));
    EXPECT_EQ(body, "kept");
}

TEST(ZoltLibrary, CgiValueAndDefaultBase) {
    EXPECT_EQ(TTZoltSeries::CgiValue("var sys_ver=\"48.2.0.121\";\nvar x=1;", "sys_ver"), "48.2.0.121");
    EXPECT_EQ(TTZoltSeries::CgiValue("var alias='cam';", "alias"), "cam");
    EXPECT_EQ(TTZoltSeries::CgiValue("var sys_ver=\"1\"", "sys_ver"), "");
    EXPECT_EQ(TTZoltSeries::CgiValue("nothing", "sys_ver"), "");
    CreateZoltSeries();
    auto first = ZoltSeries();
    ASSERT_NE(first, nullptr);
    CreateZoltSeries();
    EXPECT_NE(ZoltSeries(), first);  // a new one replaces the old
    EXPECT_EQ(first.use_count(), 1); // held by this test alone now
    ReleaseZoltSeries();
    EXPECT_EQ(ZoltSeries(), nullptr);
}

TEST(UpgradeFactory, AllTenClasses) {
    struct TRow {
        int Series, Kind;
        const std::type_info& Type;
    } rows[] = {
        {0, 0, typeid(TEUIUpgrade)},  {0, 1, typeid(TESYSUpgrade)}, {1, 0, typeid(TFUIUpgrade)},
        {1, 1, typeid(TFSYSUpgrade)}, {2, 0, typeid(THUIUpgrade)},  {2, 1, typeid(THSYSUpgrade)},
        {3, 0, typeid(TTUIUpgrade)},  {3, 1, typeid(TTSYSUpgrade)}, {4, 0, typeid(TCUIUpgrade)},
        {4, 2, typeid(TCSYSUpgrade)},
    };
    for (const auto& r : rows) {
        auto u = TUpgradeFactory::CreateUpgrade(r.Series, r.Kind);
        ASSERT_NE(u, nullptr) << r.Series;
        EXPECT_EQ(typeid(*u), r.Type) << r.Series << "/" << r.Kind;
        EXPECT_EQ(u->GetPort(), 81);
        EXPECT_EQ(u->GetUser(), "admin");
        EXPECT_EQ(u->GetModelKeyLen(), 0);
    }
    EXPECT_EQ(TUpgradeFactory::CreateUpgrade(5, 0), nullptr);
    EXPECT_EQ(TUpgradeFactory::CreateUpgrade(-1, 1), nullptr);
}
