#include "transport/CtpSession.h"
#include "upgrade/ESeries.h"

#include "SimPk2.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

using sim::TPk2Record;

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

TEST(ESeries, SectionNameAndSameVersion) {
    EXPECT_EQ(ESectionName("47.2.3.18"), "47.2.X.18");
    EXPECT_EQ(ESectionName("47.2.3.18.5"), "47.2.X.18");
    EXPECT_EQ(ESectionName("47.2.3"), "");
    EXPECT_EQ(ESectionName("47.2.3.18 "), "47.2.X.18 ");
    EXPECT_EQ(ESectionName(" 47.2.3.18"), " 47.2.X.18");
    EXPECT_TRUE(ESameVersion("48.1.3.20", "47.2.3.18"));
    EXPECT_FALSE(ESameVersion("47.2.4.18", "47.2.3.18"));
    EXPECT_TRUE(ESameVersion("1.1. 3 .1", "2.2.3"));
    EXPECT_FALSE(ESameVersion("47.2", "47.2"));
    EXPECT_FALSE(ESameVersion("1.2.a.4", "1.2.A.4"));
    TESYSUpgrade sys;
    TEUIUpgrade ui;
    sys.SetFirmwareFile(" E_47.2.3.18.zip ");
    ui.SetFirmwareFile("E_ui.zip");
    EXPECT_EQ(sys.GetImageFileName(), "E_47.2.3.18.pk2");
    EXPECT_EQ(ui.GetImageFileName(), "E_ui.pk2");
    sys.SetCurVersion("47.2.3.18");
    EXPECT_EQ(sys.GetSectionName(), "47.2.X.18");
    EXPECT_TRUE(sys.IsSameVersion("48.1.3.20"));
}

class Pk2 : public testsupport::TSandbox {
  protected:
    std::string Write(const std::string& bytes) {
        std::string p = Root + "p.pk2";
        testsupport::WriteFile(p, bytes);
        return p;
    }
};

TEST_F(Pk2, MagicAndHeaderLength) {
    EXPECT_TRUE(TSocketThread::IsPackageFile(Write(sim::Pk2Bytes({}))));
    EXPECT_FALSE(TSocketThread::IsPackageFile(Write(sim::Pk2Bytes({}, std::string("PK3\0", 4)))));
    EXPECT_FALSE(TSocketThread::IsPackageFile(Write(sim::Pk2Bytes({}, "PK2X"))));
    EXPECT_FALSE(TSocketThread::IsPackageFile(Write(sim::Pk2Bytes({}).substr(0, 27))));
    EXPECT_FALSE(TSocketThread::IsPackageFile(Root + "missing.pk2"));
}

TEST_F(Pk2, LimitsAreCheckedBeforeAnythingIsSent) {
    auto ok = [&](std::vector<TPk2Record> r, long long count = -1) {
        return TSocketThread::CheckPackageLimits(Write(sim::Pk2Bytes(r, std::string("PK2\0", 4), count)));
    };
    EXPECT_TRUE(
        ok({{"FILE", "a.img", std::string(3000, 'x')}, {"CMD ", "", "reboot"}, {"XTRA", "", "skipped"}}));
    EXPECT_TRUE(ok({{"FILE", std::string(255, 'n'), "x"}}));
    EXPECT_FALSE(ok({{"FILE", std::string(256, 'n'), "x"}}));
    EXPECT_FALSE(ok({{"FILE", std::string("a\0b", 3), "x"}}));
    TPk2Record pastEnd{"FILE", "a", "xyz"};
    pastEnd.Size = 1000;
    pastEnd.Length = 8 + 1 + 1000;
    EXPECT_FALSE(ok({pastEnd}));
    TPk2Record inconsistent{"FILE", "a", "xyz"};
    inconsistent.Size = 2;
    EXPECT_FALSE(ok({inconsistent}));
    EXPECT_TRUE(ok({{"CMD ", "", std::string(2048 - 10, 'c')}}));
    EXPECT_FALSE(ok({{"CMD ", "", std::string(2048 - 9, 'c')}}));
    EXPECT_FALSE(ok({{"CMD ", "", "x"}}, 2)); // a record that is not there
    EXPECT_TRUE(ok({}, 0));
}

TEST_F(Pk2, ReadsAndSkipsGiveTheFileBytesAcrossBlockEnds) {
    const size_t block = TPackageFile::BlockSize;
    std::string bytes(2 * block + 100, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    TPackageFile f(Write(bytes));
    auto read = [&](size_t n) {
        std::string s(n, '\0');
        s.resize(f.Read(s.data(), n));
        return s;
    };
    size_t at = 0;
    auto expect = [&](size_t n) {
        EXPECT_EQ(read(n), bytes.substr(at, n)) << "at " << at;
        at = std::min(at + n, bytes.size());
    };
    auto skip = [&](size_t n) {
        EXPECT_TRUE(f.Skip(static_cast<int64_t>(n)));
        at += n;
    };
    expect(10);
    skip(block - 20); // inside the first block
    expect(30);       // across its end
    skip(block);      // past the block read, into the file
    expect(50);
    skip(0);
    EXPECT_FALSE(f.Skip(-1));
    expect(1000); // the end: only what is left
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(read(1), "");
}
