#include "transport/CameraGet.h"
#include "upgrade/UpgradeObject.h"
#include "upgrade/PackageFiles.h"

#include "support/Sandbox.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::Shell;
using testsupport::TZipEntry;
using testsupport::WriteFile;
using testsupport::WriteZip;

namespace {

class TProbe : public TSysUpgradeObject {
  public:
    using TUpgradeObject::FOEMName;
};

} // namespace

TEST(UpgradeBase, DefaultsAndSetters) {
    TProbe u;
    EXPECT_EQ(u.GetUser(), "admin");
    EXPECT_EQ(u.GetPassword(), "");
    EXPECT_EQ(u.GetIP(), "192.168.1.126");
    EXPECT_EQ(u.GetPort(), 81);
    u.SetUser(" Admin ");
    u.SetPassword("\tSeCret ");
    u.SetIP(" 10.0.0.1 ");
    EXPECT_EQ(u.GetUser(), "admin");
    EXPECT_EQ(u.GetPassword(), "secret");
    EXPECT_EQ(u.GetIP(), " 10.0.0.1 ");
}

TEST(UpgradeBase, CopyBeforeLast) {
    EXPECT_EQ(CopyBeforeLast(".", "a.B.c"), "a.B");
    EXPECT_EQ(CopyBeforeLast(".", "abc"), "");
    EXPECT_EQ(CopyBeforeLast("B.", "xb.yB.z"), "xb.y");
    EXPECT_EQ(CopyBeforeLast(".", ""), "");
    EXPECT_EQ(CopyBeforeLast(".", ".abc"), "");
}

TEST(UpgradeBase, SectionNameFromModelOrVersion) {
    TProbe u;
    u.SetCurVersion("21.37.2.47");
    EXPECT_EQ(u.GetSectionName(), "21.37.2");
    u.SetCurVersion("2137");
    EXPECT_EQ(u.GetSectionName(), "");
    u.SetModel("ABC123");
    EXPECT_EQ(u.GetSectionName(), "ABC123");
    u.SetModelKeyLen(3);
    EXPECT_EQ(u.GetSectionName(), "ABC");
    u.SetModelKeyLen(40);
    EXPECT_EQ(u.GetSectionName(), "ABC123");
}

TEST(UpgradeBase, IsSameVersionAndImageName) {
    TProbe u;
    u.SetCurVersion("1.2.3");
    EXPECT_TRUE(u.IsSameVersion("  1.2.3 "));
    EXPECT_TRUE(u.IsSameVersion("1.2.3\r\n"));
    EXPECT_FALSE(u.IsSameVersion("1.2.3.0"));
    u.SetCurVersion("V1.2");
    EXPECT_TRUE(u.IsSameVersion("v1.2"));
    u.SetFirmwareFile("  pkg.zip ");
    EXPECT_EQ(u.GetImageFileName(), "pkg.bin");
    u.SetFirmwareFile("abc");
    EXPECT_EQ(u.GetImageFileName(), "abc.bin");
    u.SetFirmwareFile(".zip");
    EXPECT_EQ(u.GetImageFileName(), ".bin");
}

TEST(UpgradeBase, KindsAndBaseSteps) {
    TProbe s;
    s.FOEMName = "OEMX\r\n";
    EXPECT_EQ(s.GetVersionKey(), "SysVer");
    EXPECT_EQ(s.GetFileKey(), "SysFile");
    EXPECT_EQ(s.GetServerFolder(), "system");
    TUIUpgradeObject ui;
    EXPECT_EQ(ui.GetVersionKey(), "AppVer");
    EXPECT_EQ(ui.GetFileKey(), "AppFile");
    EXPECT_EQ(ui.GetServerFolder(), "");
    std::string m = "untouched";
    EXPECT_FALSE(ui.DoUpgrade(m));
    EXPECT_EQ(m, "untouched");
}

class PackageFiles : public testsupport::TSandbox {};

TEST_F(PackageFiles, CheckMD5AgreesWithMd5sum) {
    std::string f = Root + "data.bin";
    std::string content;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i)
        content += static_cast<char>(i * 31 + (i >> 9));
    WriteFile(f, content);
    std::string sum = Shell("md5sum '" + f + "'").substr(0, 32);
    ASSERT_EQ(sum.size(), 32u);
    EXPECT_TRUE(TUpgradeOpt::CheckMD5(f, sum));
    std::string upper = sum;
    for (char& c : upper)
        c = static_cast<char>(toupper(c));
    EXPECT_TRUE(TUpgradeOpt::CheckMD5(f, upper));
    EXPECT_FALSE(TUpgradeOpt::CheckMD5(f, " " + sum)); // the expected digest is not trimmed
    EXPECT_FALSE(TUpgradeOpt::CheckMD5(f, ""));
    EXPECT_TRUE(TUpgradeOpt::CheckMD5(Root + "missing", "d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_FALSE(TUpgradeOpt::CheckMD5(Root + "missing", ""));
}

TEST_F(PackageFiles, UnzipDeletesOldImageFirst) {
    std::string img = Temp + "pkg.bin";
    WriteFile(img, "old image");
    WriteZip(Temp + "other.zip", {{"something-else.bin", "x"}});
    EXPECT_FALSE(TUpgradeOpt::UnzipFile(Temp + "other.zip", img));
    EXPECT_FALSE(Exists(img));
    WriteZip(Temp + "pkg.zip",
             {{"docs/", "", TZipEntry::Dir}, {"docs/readme", "r"}, {"pkg.bin", "new image"}});
    EXPECT_TRUE(TUpgradeOpt::UnzipFile(Temp + "pkg.zip", img));
    EXPECT_EQ(ReadFile(img), "new image");
    EXPECT_EQ(ReadFile(Temp + "docs/readme"), "r");
}

TEST_F(PackageFiles, UnzipImageInSubFolderYieldsFalse) {
    WriteZip(Temp + "p.zip", {{"sub/pkg.bin", "img"}});
    EXPECT_FALSE(TUpgradeOpt::UnzipFile(Temp + "p.zip", Temp + "pkg.bin"));
    EXPECT_TRUE(Exists(Temp + "sub/pkg.bin"));
}

TEST_F(PackageFiles, UnzipRefusesEscapingEntries) {
    TTools::ForceDir(Root + "work/");
    std::string img = Root + "work/pkg.bin";
    struct TCase {
        const char* Why;
        std::vector<TZipEntry> Entries;
    } cases[] = {
        {"dot-dot", {{"pkg.bin", "img"}, {"../escaped", "evil"}}},
        {"nested dot-dot", {{"a/../../escaped", "evil"}, {"pkg.bin", "img"}}},
        {"absolute", {{"pkg.bin", "img"}, {Root + "escaped", "evil"}}},
        {"symlink", {{"link", "", TZipEntry::Symlink, Root}, {"pkg.bin", "img"}}},
        {"backslash dot-dot", {{"..\\escaped", "evil"}, {"pkg.bin", "img"}}},
    };
    for (const auto& c : cases) {
        WriteZip(Root + "work/p.zip", c.Entries);
        EXPECT_FALSE(TUpgradeOpt::UnzipFile(Root + "work/p.zip", img)) << c.Why;
        EXPECT_FALSE(Exists(Root + "escaped")) << c.Why;
        EXPECT_FALSE(Exists(img)) << c.Why;
    }
}

TEST_F(PackageFiles, UnzipNeverWritesThroughAPlantedLink) {
    TTools::ForceDir(Root + "work/");
    TTools::ForceDir(Root + "outside/");
    ASSERT_EQ(symlink((Root + "outside").c_str(), (Root + "work/sub").c_str()), 0);
    ASSERT_EQ(symlink((Root + "outside/target").c_str(), (Root + "work/pkg.bin").c_str()), 0);
    WriteZip(Root + "work/p.zip", {{"sub/file", "evil"}});
    EXPECT_FALSE(TUpgradeOpt::UnzipFile(Root + "work/p.zip", Root + "work/x.bin"));
    EXPECT_FALSE(Exists(Root + "outside/file"));
    WriteZip(Root + "work/p.zip", {{"pkg.bin", "img"}});
    EXPECT_TRUE(TUpgradeOpt::UnzipFile(Root + "work/p.zip", Root + "work/pkg.bin"));
    EXPECT_FALSE(Exists(Root + "outside/target"));
}

TEST_F(PackageFiles, UnzipOfDamagedOrMissingArchiveIsFalse) {
    WriteZip(Temp + "good.zip", {{"pkg.bin", std::string(100000, 'a') + std::string(5000, 'b')}});
    std::string zip = ReadFile(Temp + "good.zip");
    WriteFile(Temp + "cut.zip", zip.substr(0, zip.size() / 2));
    std::string flipped = zip;
    for (size_t i = 60; i < 200; ++i)
        flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
    WriteFile(Temp + "flipped.zip", flipped);
    WriteFile(Temp + "text.zip", "this is no archive");
    for (const char* name : {"cut.zip", "flipped.zip", "text.zip", "missing.zip"}) {
        EXPECT_FALSE(TUpgradeOpt::UnzipFile(Temp + name, Temp + "pkg.bin")) << name;
        EXPECT_FALSE(Exists(Temp + "pkg.bin")) << name;
    }
    EXPECT_TRUE(TUpgradeOpt::UnzipFile(Temp + "good.zip", Temp + "pkg.bin"));
}
