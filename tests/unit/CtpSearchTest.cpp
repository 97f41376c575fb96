#include "transport/CtpSearch.h"

#include <gtest/gtest.h>

TEST(CtpSearchReply, LinesAndTheirKeys) {
    TCtpSearchRecord r;
    ASSERT_TRUE(
        ParseCtpSearchReply("REPLY\r\n-name Cam1\r\n-sn SN9\r\n-ip 10.1.2.3\r\n-netmask 255.255.255.0\r\n"
                            "-portctp 8081\r\n-dhcpen 1\r\n-mdns 8.8.8.8\r\n-sdns 8.8.4.4\r\n-gw 10.1.2.1\r\n"
                            "-version v 47.2.3.18 build\r\n",
                            r));
    EXPECT_EQ(r.DevName, "Cam1");
    EXPECT_EQ(r.DeviceID, "SN9");
    EXPECT_EQ(r.IP, "10.1.2.3");
    EXPECT_EQ(r.Mask, "255.255.255.0");
    EXPECT_EQ(r.CtpPort, 8081);
    EXPECT_TRUE(r.DhcpEnabled);
    EXPECT_EQ(r.DNS1, "8.8.8.8");
    EXPECT_EQ(r.DNS2, "8.8.4.4");
    EXPECT_EQ(r.Gateway, "10.1.2.1");
    EXPECT_EQ(r.Version, "47.2.3.18 ");
    EXPECT_EQ(r.Mac, "");
    // The MAC, which names the camera in reports; a line of another key that holds "-mac" stays
    // that key's.
    ASSERT_TRUE(ParseCtpSearchReply(
        "REPLY\r\n-mac 02:53:45:00:00:07\r\n-name cam-mac 1\r\n-mac " + std::string(30, 'f') + "\r\n", r));
    EXPECT_EQ(r.DevName, "cam-mac 1");
    EXPECT_EQ(r.Mac, std::string(17, 'f')) << "a later line overwrites, cut to its field";
    EXPECT_FALSE(ParseCtpSearchReply("", r));
    EXPECT_FALSE(ParseCtpSearchReply("SEARCH * CTP/1.0\r\n", r));
}

TEST(CtpSearchReply, ValueRules) {
    TCtpSearchRecord r;
    ApplyCtpSearchLine("-version v 47.2.3.18", r);
    EXPECT_EQ(r.Version, "");
    ApplyCtpSearchLine("-portctp abc", r);
    EXPECT_EQ(r.CtpPort, 81);
    ApplyCtpSearchLine("-portctp", r); // no blank: the whole line is the value
    EXPECT_EQ(r.CtpPort, 81);
    ApplyCtpSearchLine("-dhcpen 0", r);
    EXPECT_FALSE(r.DhcpEnabled);
    ApplyCtpSearchLine("-dhcpen 1", r);
    EXPECT_TRUE(r.DhcpEnabled);
    ApplyCtpSearchLine("-dhcpen 00", r);
    EXPECT_TRUE(r.DhcpEnabled);
    ApplyCtpSearchLine("-name " + std::string(80, 'n'), r);
    EXPECT_EQ(r.DevName.size(), 50u);
    ApplyCtpSearchLine("x-ip 1.2.3.4 trailing", r); // a key anywhere in the line counts
    EXPECT_EQ(r.IP, "1.2.3.4 trailing");
    ApplyCtpSearchLine("nothing known", r);
    EXPECT_EQ(r.IP, "1.2.3.4 trailing");
    ApplyCtpSearchLine("-ip 5.6.7.8", r); // a later line wins
    EXPECT_EQ(r.IP, "5.6.7.8");
}
