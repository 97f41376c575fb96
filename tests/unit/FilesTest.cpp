#include "transport/CameraGet.h"

#include "support/Sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

using testsupport::Exists;
using testsupport::WriteFile;

class ToolsFiles : public testsupport::TSandbox {};

TEST(ToolsText, SplitTextKeepsEmptyPiecesAndAppends) {
    TStringList l{"kept"};
    TTools::SplitText("a;;b;", ";", l);
    EXPECT_EQ(l, (TStringList{"kept", "a", "", "b", ""}));
    TStringList e;
    TTools::SplitText("", ";", e);
    EXPECT_EQ(e, (TStringList{""}));
    TStringList m;
    TTools::SplitText("xababy", "ab", m);
    EXPECT_EQ(m, (TStringList{"x", "", "y"}));
    TStringList o;
    TTools::SplitText("aaa", "aa", o); // occurrences do not overlap
    EXPECT_EQ(o, (TStringList{"", "a"}));
}

TEST_F(ToolsFiles, ForceDirCreatesEveryLevel) {
    std::string d = Root + "a/b/c/";
    EXPECT_TRUE(TTools::ForceDir(d));
    EXPECT_TRUE(Exists(Root + "a/b/c"));
    EXPECT_TRUE(TTools::ForceDir(Root + "x/y"));
    EXPECT_TRUE(Exists(Root + "x/y"));
    EXPECT_TRUE(TTools::ForceDir(""));
    WriteFile(Root + "file", "");
    EXPECT_FALSE(TTools::ForceDir(Root + "file/sub/"));
}

TEST_F(ToolsFiles, DeleteDirEmptiesReadOnlyFilesAndSubFolders) {
    TTools::ForceDir(Root + "d/sub/deeper/");
    WriteFile(Root + "d/ro.txt", "x");
    chmod((Root + "d/ro.txt").c_str(), 0444);
    WriteFile(Root + "d/sub/f", "y");
    WriteFile(Root + "d/sub/deeper/g", "z");
    chmod((Root + "d/sub/deeper").c_str(), 0555);
    EXPECT_TRUE(TTools::DeleteDir(Root + "d", false));
    EXPECT_TRUE(Exists(Root + "d"));
    EXPECT_FALSE(Exists(Root + "d/ro.txt"));
    EXPECT_FALSE(Exists(Root + "d/sub"));
    EXPECT_TRUE(TTools::DeleteDir(Root + "d/", true));
    EXPECT_FALSE(Exists(Root + "d"));
    EXPECT_TRUE(TTools::DeleteDir(Root + "never-there", true));
}

TEST_F(ToolsFiles, DeleteDirRemovesLinksButNeverTheirTargets) {
    TTools::ForceDir(Root + "outside/");
    WriteFile(Root + "outside/precious", "keep");
    TTools::ForceDir(Root + "victim/");
    ASSERT_EQ(symlink((Root + "outside").c_str(), (Root + "victim/link-to-dir").c_str()), 0);
    ASSERT_EQ(symlink((Root + "outside/precious").c_str(), (Root + "victim/link-to-file").c_str()), 0);
    ASSERT_EQ(symlink((Root + "outside").c_str(), (Root + "given-as-link").c_str()), 0);
    TTools::DeleteDir(Root + "victim", true);
    TTools::DeleteDir(Root + "given-as-link/", true);
    EXPECT_FALSE(Exists(Root + "victim"));
    EXPECT_FALSE(Exists(Root + "given-as-link"));
    EXPECT_EQ(testsupport::ReadFile(Root + "outside/precious"), "keep");
}

TEST_F(ToolsFiles, FindFilesByMasksInOrderWithoutDuplicates) {
    TTools::ForceDir(Root + "lang/dir.len/");
    for (const char* f : {"Tool.len", "Tool.ljp", "Tool.lcn", "readme.txt"})
        WriteFile(Root + "lang/" + f, "");
    TStringList l;
    TTools::FindFiles(l, Root + "lang", "*.ljp;*.len", true);
    EXPECT_EQ(l, (TStringList{Root + "lang/Tool.ljp", Root + "lang/Tool.len"}));
    TStringList all;
    TTools::FindFiles(all, Root + "lang/", "*.l*|*.len", true);
    EXPECT_EQ(all.size(), 3u); // the folder dir.len is no file; Tool.len is listed once
    TStringList twice;
    TTools::FindFiles(twice, Root + "lang/", "*.len;*.LEN", false);
    EXPECT_EQ(twice.size(), 2u);
    TStringList none{"x"};
    TTools::FindFiles(none, "", "*", true);
    EXPECT_EQ(none.size(), 1u);
}

TEST_F(ToolsFiles, UserDataDirIsConfigFolderPlusProgramName) {
    std::string exe = TTools::GetModulePath();
    std::string name = exe.substr(exe.rfind('/') + 1);
    EXPECT_EQ(TTools::GetAppPath(), exe.substr(0, exe.rfind('/') + 1));
    EXPECT_EQ(TTools::GetSpecialDir(TTools::CSIDL_APPDATA, false), Root + "config/");
    EXPECT_EQ(TTools::GetSpecialDir(5, false), "");
    std::string u = TTools::GetUserDataDir(TTools::CSIDL_APPDATA, true);
    EXPECT_EQ(u, Root + "config/" + name + "/");
    EXPECT_TRUE(Exists(u));
}

TEST_F(ToolsFiles, TempDirIsPrivate) {
    std::string t = TTools::GetTempDir();
    EXPECT_EQ(t.back(), '/');
    struct stat st {};
    ASSERT_EQ(stat(t.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(TTools::GetTempDir(), t);
}

TEST_F(ToolsFiles, TempDirRefusesPlantedSymlinkAndOpenFolder) {
    std::string base = Root + "shared/";
    TTools::ForceDir(base);
    setenv("TMPDIR", base.c_str(), 1);
    std::string mine = base + "ipcam-upgrade-" + std::to_string(getuid());
    TTools::ForceDir(Root + "attacker/");
    ASSERT_EQ(symlink((Root + "attacker").c_str(), mine.c_str()), 0);
    EXPECT_THROW(TTools::GetTempDir(), std::runtime_error);
    ASSERT_EQ(Boxes->Shown().size(), 1u);
    EXPECT_EQ(Boxes->Shown()[0].Flags, 16);
    unlink(mine.c_str());
    mkdir(mine.c_str(), 0777);
    chmod(mine.c_str(), 0777);
    EXPECT_THROW(TTools::GetTempDir(), std::runtime_error);
    chmod(mine.c_str(), 0700);
    EXPECT_EQ(TTools::GetTempDir(), mine + "/");
}

TEST_F(ToolsFiles, TempDirRefusesFolderOfAnotherOwner) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
    std::string base = Root + "shared/";
    TTools::ForceDir(base);
    setenv("TMPDIR", base.c_str(), 1);
    std::string mine = base + "ipcam-upgrade-0";
    mkdir(mine.c_str(), 0700);
    ASSERT_EQ(chown(mine.c_str(), 65534, 65534), 0);
    EXPECT_THROW(TTools::GetTempDir(), std::runtime_error);
}

TEST(PlatformTime, ScaledWaitsAndTimeoutsWithAFloor) {
    double saved = platform::TimeScale();
    platform::SetTimeScale(0.01);
    EXPECT_EQ(platform::Scaled(40000), 400);
    EXPECT_EQ(platform::Scaled(1), 1); // a positive wait never becomes "no limit"
    EXPECT_EQ(platform::Scaled(0), 0);
    EXPECT_EQ(platform::Timeout(3000), 250);
    EXPECT_EQ(platform::Timeout(60000), 600);
    EXPECT_EQ(platform::Timeout(100), 100);
    platform::SetTimeScale(-3); // nonsense falls back to real time
    EXPECT_EQ(platform::Scaled(1000), 1000);
    platform::SetTimeScale(saved);
}
