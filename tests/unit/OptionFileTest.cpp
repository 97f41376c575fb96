#include "app/OptionFile.h"
#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "transport/CameraGet.h"

#include "support/Sandbox.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::WriteFile;

class Options : public testsupport::TSandbox {};

TEST_F(Options, UserLayerWinsOverProgramFolderWhichWinsOverDefault) {
    // The program folder is the test binary's; a defaults file is placed there for this test.
    std::string defaults = TTools::GetAppPath() + "test-option.ini";
    WriteFile(defaults, "[Global]\r\nlan=jp\r\nonly=program\r\n");
    {
        TOptionFile o("test-option.ini");
        EXPECT_EQ(o.ReadOption("Global", "lan", "en"), "jp");
        EXPECT_EQ(o.ReadOption("Global", "missing", "dflt"), "dflt");
        EXPECT_EQ(o.UserFileName(), UserOptionDir() + "test-option.ini");
        o.WriteOption("Global", "lan", "cn");
    }
    TOptionFile again("test-option.ini");
    EXPECT_EQ(again.ReadOption("GLOBAL", "LAN", "en"), "cn");
    EXPECT_EQ(again.ReadOption("Global", "only", ""), "program");
    EXPECT_EQ(ReadFile(defaults), "[Global]\r\nlan=jp\r\nonly=program\r\n"); // never written
    unlink(defaults.c_str());
    TOptionFile none("test-option.ini");
    EXPECT_EQ(none.ReadOption("Global", "only", "x"), "x");
}

TEST_F(Options, UnwritableUserFolderIsSilent) {
    TOptionFile o("option.ini");
    std::string user = o.UserFileName();
    TTools::DeleteDir(user.substr(0, user.rfind('/')), true);
    WriteFile(user.substr(0, user.rfind('/')), "a file where the folder was");
    o.WriteOption("Global", "lan", "en");
    EXPECT_TRUE(Boxes->Shown().empty());
}

TEST(DefaultLanguage, FromCodePageAndLocale) {
    EXPECT_EQ(DefaultLangFromCodePage(936), "cn");
    EXPECT_EQ(DefaultLangFromCodePage(950), "b5");
    EXPECT_EQ(DefaultLangFromCodePage(932), "jp");
    EXPECT_EQ(DefaultLangFromCodePage(863), "fr");
    EXPECT_EQ(DefaultLangFromCodePage(1145), "spa");
    EXPECT_EQ(DefaultLangFromCodePage(1144), "Ita");
    EXPECT_EQ(DefaultLangFromCodePage(437), "en");
    struct TCase {
        const char *All, *Ctype, *Lang;
        int Page;
    } cases[] = {
        {"", "", "zh_CN.UTF-8", 936}, {"", "", "zh_SG", 936},
        {"", "", "zh_TW.Big5", 950},  {"", "", "zh_HK", 950},
        {"", "", "zh_MO", 950},       {"", "", "ja_JP.UTF-8", 932},
        {"", "", "fr_CA.UTF-8", 863}, {"", "", "fr_FR.UTF-8", 437},
        {"", "", "es_ES", 1145},      {"", "", "it_IT", 1144},
        {"", "", "C.UTF-8", 437},     {"ja_JP", "", "zh_CN", 932},
        {"", "zh_TW", "ja_JP", 950},  {"", "", "", 437},
        {"", "", "jam", 437},
    };
    const char* saved[3];
    const char* names[3] = {"LC_ALL", "LC_CTYPE", "LANG"};
    std::string keep[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = std::getenv(names[i]);
        if (saved[i]) keep[i] = saved[i];
    }
    for (const auto& c : cases) {
        setenv("LC_ALL", c.All, 1);
        setenv("LC_CTYPE", c.Ctype, 1);
        setenv("LANG", c.Lang, 1);
        EXPECT_EQ(platform::OemCodePage(), c.Page) << c.All << "/" << c.Ctype << "/" << c.Lang;
    }
    for (int i = 0; i < 3; ++i) {
        if (saved[i])
            setenv(names[i], keep[i].c_str(), 1);
        else
            unsetenv(names[i]);
    }
}

TEST(LangFormat, OnlyTheFirstPercentSIsReplaced) {
    EXPECT_EQ(FormatLangText("The program \"%s\" is already running.", "Tool"),
              "The program \"Tool\" is already running.");
    EXPECT_EQ(FormatLangText("%s and %s, 100%%", "a"), "a and %s, 100%");
    EXPECT_EQ(FormatLangText("%d %n %s", "x%s"), "%d %n x%s");
    EXPECT_EQ(FormatLangText("", "x"), "");
    EXPECT_EQ(FormatLangText("trailing %", "x"), "trailing %");
}

class Instance : public testsupport::TSandbox {
  protected:
    // Runs the check in a new process that then waits; returns its pid and whether it got the guard.
    pid_t Holder(bool& first, int& release) {
        int result[2], go[2];
        EXPECT_EQ(pipe(result), 0);
        EXPECT_EQ(pipe(go), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            platform::TInstanceGuard g;
            char ok = g.TryAcquire(SingleInstanceName) ? '1' : '0';
            (void)!write(result[1], &ok, 1);
            char c;
            (void)!read(go[0], &c, 1);
            _exit(0);
        }
        close(go[0]);
        close(result[1]);
        char ok = '0';
        EXPECT_EQ(read(result[0], &ok, 1), 1);
        close(result[0]);
        first = ok == '1';
        release = go[1];
        return pid;
    }
};

TEST_F(Instance, SecondInstanceIsRefusedWhileTheFirstRunsEvenAfterItIsKilled) {
    bool first = false;
    int release = -1;
    pid_t pid = Holder(first, release);
    ASSERT_TRUE(first);
    TfrmStrRes store;
    std::string raised;
    SetRaiseRunningInstanceHook([&](const std::string& c) { raised = c; });
    // In a child of our own, so that this test process never keeps the guard for later tests.
    pid_t probe = fork();
    if (probe == 0) _exit(CheckSingleInstance("Tool caption") ? 1 : 0);
    int status = 0;
    waitpid(probe, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second instance was not refused";
    {
        platform::TInstanceGuard g;
        EXPECT_FALSE(g.TryAcquire(SingleInstanceName));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    close(release);
    platform::TInstanceGuard after;
    EXPECT_TRUE(after.TryAcquire(SingleInstanceName));
    SetRaiseRunningInstanceHook(nullptr);
}

TEST_F(Instance, RefusalShowsTheWarningAndAsksTheFirstWindowForward) {
    bool first = false;
    int release = -1;
    pid_t pid = Holder(first, release);
    ASSERT_TRUE(first);
    TfrmStrRes store;
    std::string raised;
    SetRaiseRunningInstanceHook([&](const std::string& c) { raised = c; });
    EXPECT_FALSE(CheckSingleInstance("Tool caption"));
    EXPECT_EQ(raised, "Tool caption");
    auto shown = Boxes->Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, FormatLangText(GetLangStr("IDS_RUNNED"), "Tool caption"));
    EXPECT_NE(shown[0].Text.find("Tool caption"), std::string::npos);
    EXPECT_EQ(shown[0].Caption, "WARNING");
    EXPECT_EQ(shown[0].Flags, 48);
    close(release);
    int status = 0;
    waitpid(pid, &status, 0);
    SetRaiseRunningInstanceHook(nullptr);
    SetLangDir("");
}
