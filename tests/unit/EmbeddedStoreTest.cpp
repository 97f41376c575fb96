#include "lang/BuiltInLanguages.h"
#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "lang/EmbeddedStore.h"
#include "transport/CameraGet.h"

#include "support/Sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(SkinStore, ItemsAreNamedByIdsThatAreNeverReused) {
    TSkinCollection c;
    EXPECT_EQ(c.Add().GetName(), "SkinItem0");
    EXPECT_EQ(c.Add().GetName(), "SkinItem1");
    EXPECT_EQ(c.Add().GetName(), "SkinItem2");
    c.Delete(2);
    EXPECT_EQ(c.Add().GetName(), "SkinItem3");
    EXPECT_EQ(c.Items(0).GetSkinData(), "Load Skin");
    c.Items(0).SetSkinData("ignored");
    EXPECT_EQ(c.Items(0).GetSkinData(), "Load Skin");
}

TEST(SkinStore, DuplicateNamesAreRefused) {
    TSkinCollection c;
    c.Add().SetName("en");
    TSkinCollectionItem& second = c.Add();
    second.SetName("jp");
    try {
        second.SetName("en");
        FAIL() << "a duplicate name was accepted";
    } catch (const ESkinStoreError& e) {
        EXPECT_STREQ(e.what(), "The name en is already used.");
    }
    EXPECT_EQ(second.GetName(), "jp");
    second.SetName("jp"); // its own name: silently accepted
    second.SetName("EN"); // letter case counts
    EXPECT_EQ(second.GetName(), "EN");
    EXPECT_EQ(second.DisplayName(), "EN");
}

TEST(SkinStore, AssignmentCopiesNamesAndData) {
    TSkinStore a, b;
    auto& item = a.Store().Add();
    item.SetName("en");
    item.SetData(std::string("bytes\0with zero", 15));
    EXPECT_EQ(item.DataSize(), 15);
    b.Store().Add().SetName("old");
    b.SetStore(&a.Store());
    ASSERT_EQ(b.Store().Count(), 1u);
    EXPECT_EQ(b.Store().Items(0).GetName(), "en");
    EXPECT_EQ(b.Store().Items(0).Data(), item.Data());
    b.SetStore(nullptr);
    EXPECT_EQ(b.Store().Count(), 1u);
    TSkinCollection other;
    auto& copy = other.Add();
    copy.Assign(item);
    EXPECT_EQ(copy.GetName(), "en");
    EXPECT_EQ(copy.DataSize(), 15);
}

TEST(SkinStore, PersistenceRoundTripsAndRefusesDamage) {
    TSkinStore a;
    for (const char* n : {"en", "jp", "empty"}) {
        auto& it = a.Store().Add();
        it.SetName(n);
        if (std::string(n) != "empty") it.SetData(StoredLanguageFile(n));
    }
    std::string bytes = a.Write();
    EXPECT_NE(bytes.find("DataStream"), std::string::npos);
    TSkinStore b;
    b.Read(bytes);
    ASSERT_EQ(b.Store().Count(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(b.Store().Items(i).GetName(), a.Store().Items(i).GetName());
        EXPECT_EQ(b.Store().Items(i).Data(), a.Store().Items(i).Data());
    }
    EXPECT_EQ(b.Write(), bytes);
    for (size_t cut : {size_t(0), size_t(5), bytes.size() / 2, bytes.size() - 1})
        EXPECT_THROW(b.Read(bytes.substr(0, cut)), ESkinStoreError) << cut;
    EXPECT_EQ(b.Store().Count(), 3u); // a failed read leaves the store as it was
}

class StrRes : public testsupport::TSandbox {
  protected:
    std::string Dir() {
        std::string exe = platform::ExePath();
        return Temp + exe.substr(exe.rfind('/') + 1) + "/";
    }
    std::vector<std::string> Files() {
        TStringList l;
        TTools::FindFiles(l, Dir(), "*", false);
        for (auto& f : l)
            f = f.substr(Dir().size());
        std::sort(l.begin(), l.end());
        return l;
    }
    void TearDown() override {
        SetLangDir("");
        TSandbox::TearDown();
    }
};

TEST_F(StrRes, WritesTheTwoFilesAndTakesTheFolderAwayAtTheEnd) {
    {
        TfrmStrRes store;
        EXPECT_EQ(LangDir(), Dir());
        EXPECT_EQ(Files(),
                  (std::vector<std::string>{TfrmStrRes::LockName, LangFileName("en"), LangFileName("jp")}));
        EXPECT_EQ(ReadFile(Dir() + LangFileName("en")), StoredLanguageFile("en"));
        EXPECT_EQ(ReadFile(Dir() + LangFileName("jp")), StoredLanguageFile("jp"));
        ASSERT_EQ(store.SkinStore1.Store().Count(), 2u);
        EXPECT_EQ(store.SkinStore1.Store().Items(0).GetName(), "en");
        EXPECT_EQ(store.SkinStore1.Store().Items(1).GetName(), "jp");
        // A read-only file and a folder put there by hand go as well.
        WriteFile(Dir() + "extra.lcn", "[Global]");
        chmod((Dir() + "extra.lcn").c_str(), 0444);
        TTools::ForceDir(Dir() + "sub/");
    }
    EXPECT_FALSE(Exists(Dir()));
    EXPECT_TRUE(Boxes->Shown().empty());
}

TEST_F(StrRes, ReplacesAnOlderFile) {
    TTools::ForceDir(Dir());
    WriteFile(Dir() + LangFileName("en"), "[StrRes]\r\nIDS_ERROR=old\r\n");
    TfrmStrRes store;
    EXPECT_EQ(ReadFile(Dir() + LangFileName("en")), StoredLanguageFile("en"));
}

TEST_F(StrRes, WriteFailureIsShownAndStartUpGoesOn) {
    // A file where the folder should be: nothing can be written, one error box, no crash.
    WriteFile(Dir().substr(0, Dir().size() - 1), "in the way");
    {
        TfrmStrRes store;
        ASSERT_EQ(Boxes->Shown().size(), 1u);
        EXPECT_EQ(Boxes->Shown()[0].Flags, 16);
        EXPECT_EQ(GetLangStr("IDS_NOPORT"), "Please input a valid port."); // the built-in texts
    }
    EXPECT_EQ(ReadFile(Dir().substr(0, Dir().size() - 1)), "in the way");
}

TEST_F(StrRes, ALinkPlantedAsTheFolderIsNeverFollowed) {
    std::string self = Dir().substr(0, Dir().size() - 1);
    ASSERT_EQ(mkdir((Root + "elsewhere").c_str(), 0700), 0);
    WriteFile(Root + "elsewhere/keep", "keep");
    ASSERT_EQ(symlink((Root + "elsewhere").c_str(), self.c_str()), 0);
    {
        TfrmStrRes store;
        EXPECT_FALSE(testsupport::Exists(Root + "elsewhere/" + LangFileName("en")));
        // Planted again while the program runs: at exit the target is left alone.
        ASSERT_EQ(rename(self.c_str(), (Root + "moved").c_str()), 0);
        ASSERT_EQ(symlink((Root + "elsewhere").c_str(), self.c_str()), 0);
    }
    EXPECT_EQ(ReadFile(Root + "elsewhere/keep"), "keep");
}

TEST_F(StrRes, AProgramThatEndsFirstLeavesTheFolderToTheOneStillRunning) {
    TfrmStrRes mine;
    pid_t child = fork();
    if (child == 0) {
        {
            TfrmStrRes theirs; // a second program starts and ends while this one runs
        }
        _exit(testsupport::Exists(Dir() + LangFileName("en")) ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFile(Dir() + LangFileName("en")), StoredLanguageFile("en"));
    EXPECT_EQ(ReadFile(Dir() + LangFileName("jp")), StoredLanguageFile("jp"));
}

TEST_F(StrRes, TheLastOneToEndTakesTheFolderAway) {
    auto mine = std::make_unique<TfrmStrRes>();
    int go[2], ready[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        close(go[1]);
        {
            TfrmStrRes theirs;
            (void)!write(ready[1], "r", 1);
            char c;
            (void)!read(go[0], &c, 1); // runs until the parent has ended its store
        }
        _exit(0);
    }
    close(go[0]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    mine.reset();
    EXPECT_TRUE(Exists(Dir() + LangFileName("en")));
    close(go[1]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_FALSE(Exists(Dir()));
}
