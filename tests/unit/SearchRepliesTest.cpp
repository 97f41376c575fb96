// The search dialects: each probe's bytes, and each reply as the record it gives, including the
// short replies of real devices (fields past the end read as zero, never past the datagram).
#include "discovery/SearchReplies.h"
#include "platform/Broadcast.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Records what would be sent, instead of sending it.
class TSent : public IDatagramPort {
  public:
    struct TDatagram {
        std::string Data, IP;
        int Port;
    };
    std::vector<TDatagram> Sent;
    bool SendTo(const std::string& data, const std::string& ip, int port) override {
        Sent.push_back({data, ip, port});
        return true;
    }
};

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b)
        s += static_cast<char>(c);
    return s;
}

void Put(std::string& d, size_t at, const std::string& bytes) {
    if (d.size() < at + bytes.size()) d.resize(at + bytes.size(), '\0');
    d.replace(at, bytes.size(), bytes);
}

// A MO_I reply with the given body length, holding every field of the layout.
std::string MoiReply(uint32_t bodyLength, size_t cutTo = std::string::npos) {
    std::string d(23 + bodyLength, '\0');
    Put(d, 0, "MO_I");
    Put(d, 4, Bytes({1, 0}));
    Put(d, 15, Bytes({int(bodyLength & 0xFF), int(bodyLength >> 8), 0, 0}));
    Put(d, 23, "CAM0012AB34CD");
    Put(d, 23 + 13, "Hall \xE2\x82\xAC");
    Put(d, 23 + 34, Bytes({192, 168, 1, 9}));
    Put(d, 23 + 38, Bytes({255, 255, 255, 0}));
    Put(d, 23 + 42, Bytes({192, 168, 1, 1}));
    Put(d, 23 + 46, Bytes({8, 8, 8, 8}));
    Put(d, 23 + 54, Bytes({4, 22, 1, 7, 0, 1, 2, 3}));
    Put(d, 23 + 62, Bytes({0x00, 0x51}));
    if (bodyLength == 195) {
        Put(d, 23 + 64, Bytes({1}));
        Put(d, 23 + 65, "cam.ddns.example");
        Put(d, 23 + 130, "ddnsuser");
    }
    return d.substr(0, cutTo);
}

std::string BinaryHead(uint16_t command, uint16_t length) {
    return Bytes({0x10, 0x10, command & 0xFF, command >> 8, 0xAB, 0xCD, length & 0xFF, length >> 8});
}

} // namespace

TEST(SearchProbes, BytesAsDesigned) {
    std::string sq = Sq610Probe();
    ASSERT_EQ(sq.size(), 256u);
    EXPECT_EQ(sq.substr(0, 8), Bytes({'S', 'Q', '6', '1', '0', 0x10, 6, 0}));
    EXPECT_EQ(sq.substr(159, 3), Bytes({0x26, 1, 0})) << "the items end at offset 162";
    EXPECT_EQ(sq.find_first_not_of('\0', 162), std::string::npos);
    EXPECT_EQ(MoiProbe(), std::string("MO_I\0\0", 6) + std::string(9, '\0') + Bytes({4, 0, 0, 0}) +
                              std::string(4, '\0') + Bytes({0, 0, 0, 1}));
    EXPECT_EQ(UicamProbe(), "uicam query");
    EXPECT_EQ(CtpSearchProbe().size(), 34u);
    EXPECT_EQ(BinaryProbe(), Bytes({0x10, 0x10, 0x01, 0x0F, 0, 0, 0, 0}));
    // Every send goes to IPCAM_BROADCAST_ADDR, which the tests set to loopback.
    TSent sent;
    SendSq610Probe(4000, sent);
    SendBinaryProbe(6801, sent);
    ASSERT_EQ(sent.Sent.size(), 2u);
    EXPECT_EQ(sent.Sent[0].IP, "127.255.255.255");
    EXPECT_EQ(sent.Sent[1].Port, 6801);
}

TEST(SearchProbes, DirectedBroadcastsOfTheInterfacesThatCanCarryThem) {
    std::vector<platform::TInterfaceAddress> list = {
        {"lo", 0x7F000001, 0xFF000000, true, true, false},
        {"eth0", 0xC0A8010A, 0xFFFFFF00, true, false, true},
        {"eth0", 0xC0A80114, 0xFFFFFF00, true, false, true}, // a second address, same network
        {"wlan0", 0x0A000005, 0xFFFF0000, true, false, true},
        {"down0", 0xAC100001, 0xFFFFF000, false, false, true},
        {"ptp0", 0x0A080001, 0xFFFFFFFF, true, false, false},
    };
    EXPECT_EQ(platform::DirectedBroadcasts(list, ""),
              (std::vector<std::string>{"192.168.1.255", "10.0.255.255"}));
    EXPECT_EQ(platform::DirectedBroadcasts(list, "wlan0"), (std::vector<std::string>{"10.0.255.255"}));
    EXPECT_TRUE(platform::DirectedBroadcasts(list, "nope").empty());
}

TEST(SearchReplies, MoiRepliesWholeAndShort) {
    TDevInfo r;
    ASSERT_TRUE(ParseMoiReply(MoiReply(195), r));
    EXPECT_EQ(r.DevType, 2);
    EXPECT_EQ(r.MAC, "CAM0012AB34CD");
    EXPECT_EQ(r.MACHex, "CAM0012AB34CD");
    EXPECT_EQ(r.DevName, "Hall \xE2\x82\xAC");
    EXPECT_EQ(r.IP, "192.168.1.9");
    EXPECT_EQ(r.Mask, "255.255.255.0");
    EXPECT_EQ(r.Gateway, "192.168.1.1");
    EXPECT_EQ(r.DNS1, "8.8.8.8");
    EXPECT_EQ(r.Version, "4.22.1.7:0.1.2.3");
    EXPECT_EQ(r.HttpPort, 81);
    EXPECT_EQ(r.DHCP, 1);
    EXPECT_EQ(r.DdnsHost, "cam.ddns.example");
    EXPECT_EQ(r.DdnsUser, "ddnsuser");

    TDevInfo s;
    ASSERT_TRUE(ParseMoiReply(MoiReply(64), s));
    EXPECT_EQ(s.DHCP, 2);
    EXPECT_EQ(s.DdnsHost, "");
    // Cut after the address: what lies past the end reads as zero.
    TDevInfo t;
    ASSERT_TRUE(ParseMoiReply(MoiReply(195, 23 + 40), t));
    EXPECT_EQ(t.IP, "192.168.1.9");
    EXPECT_EQ(t.Mask, "255.255.0.0");
    EXPECT_EQ(t.Version, "0.0.0.0:0.0.0.0");
    EXPECT_EQ(t.HttpPort, 0);
    EXPECT_EQ(t.DHCP, 2) << "the byte of the address mode lies past the end";

    TDevInfo u;
    EXPECT_FALSE(ParseMoiReply(MoiProbe(), u)) << "the system's own probe is no reply";
    EXPECT_FALSE(ParseMoiReply(MoiReply(66), u));
    EXPECT_FALSE(ParseMoiReply("MO_I", u));
}

TEST(SearchReplies, TextRepliesByTheirOwnRules) {
    TDevInfo r;
    ParseTextReply("REPLY 200\r\n-ip 192.168.1.9\r\n-portctp x\r\n-mac 00:11:22:aa:bb:cc\r\n-ddnsuser u1\r\n"
                   "-ddns host\r\n-ddnspswd secret\r\n-name \xFF\r\n-version 47.2.3.18",
                   r);
    EXPECT_EQ(r.DevType, 5);
    EXPECT_EQ(r.IP, "192.168.1.9");
    EXPECT_EQ(r.HttpPort, 80);
    EXPECT_EQ(r.MAC, "001122aabbcc");
    EXPECT_EQ(r.MACHex, "001122AABBCC");
    EXPECT_EQ(r.DdnsHost, "ser u1") << "the first line that begins with -ddns";
    EXPECT_EQ(r.DdnsPassword, "secret");
    EXPECT_EQ(r.DevName, "\xFF");
    EXPECT_EQ(r.Version, "47.2.3.18");
    TDevInfo s;
    EXPECT_TRUE(ParseTextReply("REPLY", s));
    EXPECT_EQ(s.HttpPort, 0) << "no -portctp line leaves the port";
    for (const char* p : {"-portctp 70000", "-portctp 0", "-portctp -1"}) {
        TDevInfo t;
        ParseTextReply(std::string("REPLY\r\n") + p, t);
        EXPECT_EQ(t.HttpPort, 80) << p << ": never wrapped";
    }
}

TEST(SearchReplies, BinaryThreeStepExchange) {
    TSent sent;
    TDevInfo r;
    std::vector<TDevInfo> listed;
    TFindRow find = [&](const std::string& mac) -> const TDevInfo* {
        for (const TDevInfo& d : listed)
            if (d.MAC == mac) return &d;
        return nullptr;
    };
    // An offer lists nothing and causes one follow-up echoing offer bytes 12 to 139.
    std::string offer = BinaryHead(0x8F01, 132) + std::string(4, 'h');
    for (int i = 0; i < 128; ++i)
        offer += static_cast<char>(i);
    EXPECT_FALSE(ParseReply(offer, r, find, sent, 6801));
    ASSERT_EQ(sent.Sent.size(), 1u);
    EXPECT_EQ(sent.Sent[0].Data.size(), 136u);
    EXPECT_EQ(sent.Sent[0].Data.substr(0, 8), BinaryHead(0x0F12, 128));
    EXPECT_EQ(sent.Sent[0].Data.substr(8), offer.substr(12));
    // A short offer gives a zero-padded follow-up of the same size.
    EXPECT_FALSE(ParseReply(BinaryHead(0x8F01, 0) + "xyzw" + "ab", r, find, sent, 6801));
    ASSERT_EQ(sent.Sent.size(), 2u);
    EXPECT_EQ(sent.Sent[1].Data.substr(8), "ab" + std::string(126, '\0'));

    std::string info = BinaryHead(0x8F12, 300);
    Put(info, 8, "192.168.1.40");
    Put(info, 24, "255.255.255.0");
    Put(info, 88, Bytes({0x51, 0x00}));
    Put(info, 94, Bytes({0x90, 0x1F}));
    Put(info, 96, Bytes({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    Put(info, 104, Bytes({1, 2, 3, 4, 5, 6, 7}));
    Put(info, 111, Bytes({1}));
    Put(info, 112, "Gate");
    Put(info, 136, "V7.1.2");
    ASSERT_TRUE(ParseReply(info, r, find, sent, 6801));
    EXPECT_EQ(TypeLetter(r.DevType), "H");
    EXPECT_EQ(r.IP, "192.168.1.40");
    EXPECT_EQ(r.HttpPort, 81);
    EXPECT_EQ(r.Port2, 8080);
    EXPECT_EQ(r.MAC, "001a2b3c4d5e");
    EXPECT_EQ(r.DeviceID, "01020304050607");
    EXPECT_EQ(r.DHCP, 1);
    EXPECT_EQ(r.DevName, "Gate");
    EXPECT_EQ(r.Version, "V7.1.2");
    ASSERT_EQ(sent.Sent.size(), 3u);
    EXPECT_EQ(sent.Sent[2].Data.substr(2, 2), Bytes({0x0F, 0x0F}));
    EXPECT_EQ(sent.Sent[2].Data.substr(8), info.substr(8, 128));

    // The DDNS reply comes back as a copy of the listed row with its three texts.
    listed.push_back(r);
    std::string ddns = BinaryHead(0x8F0F, 0);
    Put(ddns, 96, Bytes({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    Put(ddns, 142, "gate.ddns");
    Put(ddns, 272, "du");
    Put(ddns, 336, "dp");
    TDevInfo fromDdns;
    fromDdns.ClearForDatagram();
    ASSERT_TRUE(ParseReply(ddns, fromDdns, find, sent, 6801));
    EXPECT_EQ(fromDdns.IP, "192.168.1.40");
    EXPECT_EQ(fromDdns.DdnsHost, "gate.ddns");
    EXPECT_EQ(fromDdns.DdnsPassword, "dp");
    TDevInfo unknown;
    unknown.ClearForDatagram();
    Put(ddns, 96, Bytes({9, 9, 9, 9, 9, 9}));
    EXPECT_TRUE(ParseReply(ddns, unknown, find, sent, 6801));
    EXPECT_FALSE(unknown.Listable()) << "a DDNS reply for no listed row changes nothing";
    EXPECT_EQ(sent.Sent.size(), 3u);
    EXPECT_FALSE(ParseReply(BinaryHead(0x1234, 0), unknown, find, sent, 6801));
    EXPECT_FALSE(ParseReply("\x10\x10", unknown, find, sent, 6801));
}

TEST(SearchReplies, HelpersAsDesigned) {
    EXPECT_EQ(NormalizeMac("00-1a:2b 3c"), "001A2B03C");
    EXPECT_EQ(TypeLetter(13), "");
    EXPECT_EQ(TypeLetter(StandardCameraType), "S");
    EXPECT_EQ(TypeLetter(999), "NAS");
    EXPECT_EQ(TypeLetter(9), "T");
    EXPECT_EQ(TypeLetter(-1), "");
    const unsigned char mac[6] = {0xAB, 0, 1, 0xFF, 0x10, 0x0A};
    EXPECT_EQ(HexBytes(mac, 6), "ab0001ff100a");
    std::string v;
    EXPECT_TRUE(FindKeyValue("-ip", {"-ipxy", "-ip 1"}, v));
    EXPECT_EQ(v, "y") << "a prefix match, then one separator character";
    EXPECT_FALSE(FindKeyValue("-IP", {"-ip 1"}, v));
}

TEST(SearchReplies, TheDispatcherWithoutSendsNamesTheFollowUpItWouldSend) {
    TFindRow none = [](const std::string&) -> const TDevInfo* { return nullptr; };
    std::string offer = BinaryHead(0x8F01, 132) + std::string(4, 'h') + std::string(128, 'o');
    TDevInfo r;
    std::string followUp = "stale";
    EXPECT_FALSE(ReadReplyDatagram(offer, r, none, followUp));
    TSent sent;
    EXPECT_FALSE(ParseReply(offer, r, none, sent, 6801));
    ASSERT_EQ(sent.Sent.size(), 1u);
    EXPECT_EQ(followUp, sent.Sent[0].Data);
    // Replies that need no answer leave it empty.
    EXPECT_FALSE(ReadReplyDatagram("\x10\x10", r, none, followUp));
    EXPECT_EQ(followUp, "");
}
