// What an administrator relies on between runs: the option file's layers and the start
// language, the history file and its reader, the image cache's pruning, masked traces.
#include "app/History.h"
#include "app/OptionFile.h"
#include "app/Startup.h"
#include "base/Files.h"
#include "cli/CliCommon.h"
#include "lang/Lang.h"
#include "transport/CameraGet.h"
#include "transport/RequestTrace.h"
#include "upgrade/ImageCache.h"

#include "support/Sandbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace testsupport;

namespace {

class AdminFiles : public TLangSandbox {};

TSessionResult Session(const std::string& outcome) {
    TSessionResult r;
    r.Camera.IP = "127.0.0.1";
    r.Camera.Port = "8083";
    r.Camera.Series = 'H';
    r.Camera.Password = "s3cret-pw";
    r.Camera.Mac = "00:11:22:33:44:55";
    r.Camera.DeviceName = "gate \"north\"\x1b[2J";
    r.Firmware = "system";
    r.Report.Outcome = outcome;
    r.Report.Key = "IDS_IPCWORKING";
    r.Report.Text = "IP Cam is Working!";
    r.Report.VersionBefore = "48.2.0.10";
    r.Report.VersionOffered = "48.2.0.11";
    r.Report.Log.push_back({std::chrono::system_clock::now(), "IDS_IPCCONNECTED", "password s3cret-pw"});
    return r;
}

// Installs a verified image of size bytes, used last at the given second.
std::string Cached(const std::string& dir, const std::string& name, size_t bytes, time_t used) {
    std::string unpacked = dir + name + ".new";
    WriteFile(unpacked, std::string(bytes, 'i'));
    EXPECT_TRUE(imagecache::Install(unpacked, dir + name, "0123456789abcdef0123456789abcdef", "system"));
    timespec times[2] = {{used, 0}, {used, 0}};
    utimensat(AT_FDCWD, imagecache::RecordPath(dir + name).c_str(), times, 0);
    return dir + name;
}

} // namespace

TEST_F(AdminFiles, UserFileWinsOverTheSystemFileWhichWinsOverTheProgramFolder) {
    std::string program = TTools::GetAppPath() + "admin-option.ini";
    WriteFile(program, "[Global]\nlan=jp\nFirmwareServer=http://program/\nonly=program\n");
    mkdir((Root + "etc").c_str(), 0755);
    WriteFile(Root + "etc/admin-option.ini", "[Global]\nFirmwareServer=http://site/\nlan=cn\n");
    {
        TOptionFile o("admin-option.ini");
        EXPECT_EQ(o.ReadOption("Global", "FirmwareServer", ""), "http://site/");
        EXPECT_EQ(o.ReadOption("Global", "lan", ""), "cn");
        EXPECT_EQ(o.ReadOption("Global", "only", ""), "program");
        // One file for both front ends, whatever the program is called.
        EXPECT_EQ(o.UserFileName(), Root + "config/ipcam-upgrade/admin-option.ini");
        o.WriteOption("Global", "lan", "en");
    }
    TOptionFile again("admin-option.ini");
    EXPECT_EQ(again.ReadOption("Global", "lan", ""), "en");
    EXPECT_EQ(ReadFile(Root + "etc/admin-option.ini"), "[Global]\nFirmwareServer=http://site/\nlan=cn\n");
    unlink(program.c_str());
}

TEST_F(AdminFiles, StartLanguageKeepsAChosenLanguageWithoutItsFile) {
    ForceDir(Root + "config/ipcam-upgrade/");
    std::string user = Root + "config/ipcam-upgrade/option.ini";
    WriteFile(user, "[Global]\nlan=fr\n");
    EXPECT_EQ(StartLanguage(TOptionFile("option.ini")), "fr");
    WriteFile(user, "[Global]\nlan=\n");
    setenv("LANG", "ja_JP.UTF-8", 1);
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    EXPECT_EQ(StartLanguage(TOptionFile("option.ini")), "jp"); // its file is stored
    setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(StartLanguage(TOptionFile("option.ini")), "en"); // no cn file here
    setenv("LANG", "C", 1);
}

TEST_F(AdminFiles, CacheLimitsFromTheOptionFile) {
    ForceDir(Root + "config/ipcam-upgrade/");
    WriteFile(Root + "config/ipcam-upgrade/option.ini", "[Cache]\nMaxImages=3\nMaxMegabytes=0\n");
    ApplyCacheOptions(TOptionFile("option.ini"));
    EXPECT_EQ(imagecache::Limits().MaxImages, 3u);
    EXPECT_EQ(imagecache::Limits().MaxBytes, 0u);
    WriteFile(Root + "config/ipcam-upgrade/option.ini", "[Cache]\nMaxImages=-1\nMaxMegabytes=ten\n");
    ApplyCacheOptions(TOptionFile("option.ini"));
    EXPECT_EQ(imagecache::Limits().MaxImages, imagecache::TLimits{}.MaxImages);
    EXPECT_EQ(imagecache::Limits().MaxBytes, imagecache::TLimits{}.MaxBytes);
}

TEST(LanguageCodes, UsualCodesMapToTheStoredLanguages) {
    EXPECT_EQ(LanguageCode("ja"), "jp");
    EXPECT_EQ(LanguageCode("ja_JP.UTF-8"), "jp");
    EXPECT_EQ(LanguageCode("JP"), "jp");
    EXPECT_EQ(LanguageCode("en-US"), "en");
    EXPECT_EQ(LanguageCode("zh_TW"), "b5");
    EXPECT_EQ(LanguageCode("zh-CN"), "cn");
    EXPECT_EQ(LanguageCode("es"), "spa");
    EXPECT_EQ(LanguageCode("it_IT"), "Ita");
    EXPECT_EQ(LanguageCode("xx"), "xx");
}

TEST(RequestTrace, SecretsAreMasked) {
    using http::MaskSecrets;
    EXPECT_EQ(MaskSecrets("http://127.0.0.1:81/get_status.cgi?user=admin&pwd=ab!x@y$*&next_url=x"),
              "http://127.0.0.1:81/get_status.cgi?user=admin&pwd=***&next_url=x");
    EXPECT_EQ(MaskSecrets("http://h/c.cgi?loginuse=admin&loginpas=p%26w"),
              "http://h/c.cgi?loginuse=admin&loginpas=***");
    EXPECT_EQ(MaskSecrets("https://user:pa@ss@server.invalid/FM/?x=1"), "https://***@server.invalid/FM/?x=1");
    EXPECT_EQ(MaskSecrets("Authorization: Basic YWRtaW46MTIz"), "Authorization: ***");
    EXPECT_EQ(MaskSecrets("GET /reboot.cgi?pwd=1 HTTP/1.1"), "GET /reboot.cgi?pwd=*** HTTP/1.1");
    EXPECT_EQ(MaskSecrets("http://h/FM/system/firmware.txt"), "http://h/FM/system/firmware.txt");
}

TEST_F(AdminFiles, HistoryKeepsEverySessionWithoutPasswordsAndReadsBack) {
    RecordSession(Session("upgraded"));
    TSessionResult failed = Session("failed");
    failed.Camera.IP = "127.0.0.2";
    failed.Camera.Mac.clear();
    failed.Report.VersionOffered.reset();
    RecordSession(failed);
    std::string path = HistoryPath();
    EXPECT_EQ(path, Root + "state/ipcam-upgrade/history.jsonl");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string text = ReadFile(path);
    EXPECT_EQ(text.find("s3cret-pw"), std::string::npos) << text; // neither the account nor the log
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    std::vector<THistoryEntry> entries;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        THistoryEntry e;
        ASSERT_TRUE(ParseHistoryLine(line, e)) << line;
        entries.push_back(e);
    }
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].IP, "127.0.0.1");
    EXPECT_EQ(entries[0].Port, "8083");
    EXPECT_EQ(entries[0].Mac, "00:11:22:33:44:55");
    EXPECT_EQ(entries[0].Name, "gate \"north\"\x1b[2J"); // as the camera said it, escaped on display
    EXPECT_EQ(entries[0].Outcome, "upgraded");
    EXPECT_EQ(entries[0].VersionOffered, "48.2.0.11");
    EXPECT_FALSE(entries[0].VersionAfter);
    EXPECT_FALSE(entries[0].Time.empty());
    EXPECT_EQ(entries[1].Outcome, "failed");
    EXPECT_FALSE(entries[1].VersionOffered);
    std::string line = SyslogLine(Session("upgraded"));
    EXPECT_EQ(line, "camera 127.0.0.1:8083 mac 00:11:22:33:44:55 series H firmware system version 48.2.0.10 "
                    "offered 48.2.0.11 after - outcome upgraded: IP Cam is Working!");
}

TEST(HistoryLines, DamagedLinesAreSkippedNotTrusted) {
    THistoryEntry e;
    for (const char* bad :
         {"", "{", "[1,2]", "{\"camera\": {\"ip\": \"1\"}}", "{\"outcome\": \"x\"}",
          "{\"camera\": {\"ip\": \"1\"}, \"outcome\": \"x\"} trailing",
          "{\"camera\": {\"ip\": \"1\\u12\"}, \"outcome\": \"x\"}",
          "{\"camera\": {\"ip\": \"1\"}, \"outcome\": \"x\", \"log\": [[[[[[[[[[]]]]]]]]]]}",
          // found by fuzzing: no address, and words JSON has not
          "{\"camera\": {\"ip\": \"\", \"port\": 81}, \"outcome\": \"failed\"}",
          "{\"camera\": {\"ip\": \"1\"}, \"outcome\": \"x\", \"text\": Aull}",
          "{\"camera\": {\"ip\": \"1\"}, \"outcome\": \"x\", \"durationMs\": 3-}",
          "{\"camera\": {\"ip\": \"1\"}, \"outcome\": \"x\", \"durationMs\": 1.}",
          "{\"camera\": {\"ip\": \"1\"}, \"outcome\": \"x\", \"durationMs\": 1e}"})
        EXPECT_FALSE(ParseHistoryLine(bad, e)) << bad;
    ASSERT_TRUE(ParseHistoryLine("{\"camera\":{\"ip\":\"10.0.0.9\",\"port\":81},\"outcome\":\"up-to-date\","
                                 "\"versionAfter\":null,\"log\":[{\"k\":\"v\"}],\"text\":\"a\\u0007\\\"b\"}",
                                 e));
    EXPECT_EQ(e.IP, "10.0.0.9");
    EXPECT_EQ(e.Port, "81");
    EXPECT_EQ(e.Text, "a\a\"b");
    EXPECT_FALSE(e.VersionAfter);
    EXPECT_TRUE(
        ParseHistoryLine("{\"camera\":{\"ip\":\"1\",\"port\":-81.5e+2},\"outcome\":\"x\",\"ok\":true}", e));
    EXPECT_EQ(e.Port, "-81.5e+2");
}

TEST_F(AdminFiles, CacheKeepsTheNewestImagesWithinCountAndSize) {
    std::string dir = Root + "cache-test/";
    mkdir(dir.c_str(), 0700);
    imagecache::SetLimits({0, 0});
    Cached(dir, "a.bin", 100, 1000);
    Cached(dir, "b.bin", 100, 3000);
    Cached(dir, "c.bin", 100, 2000);
    std::vector<imagecache::TCachedImage> list = imagecache::List(dir);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Path, dir + "b.bin"); // most recently used first
    EXPECT_EQ(list[2].Path, dir + "a.bin");
    EXPECT_EQ(list[0].Folder, "system");
    // A reused image counts as new.
    imagecache::Used(dir + "a.bin");
    EXPECT_EQ(imagecache::List(dir)[0].Path, dir + "a.bin");
    // Everything so far was installed by this run, which a batch still needs: nothing goes.
    imagecache::Prune(dir, {1, 0});
    EXPECT_EQ(imagecache::List(dir).size(), 3u);
    imagecache::ClearInUse(); // a later run
    timespec used[2] = {{3500, 0}, {3500, 0}};
    utimensat(AT_FDCWD, imagecache::RecordPath(dir + "a.bin").c_str(), used, 0);
    imagecache::Prune(dir, {2, 0});
    EXPECT_TRUE(Exists(dir + "a.bin"));
    EXPECT_TRUE(Exists(dir + "b.bin"));
    EXPECT_FALSE(Exists(dir + "c.bin"));
    EXPECT_FALSE(Exists(imagecache::RecordPath(dir + "c.bin")));
    // The size limit counts from the newest image on.
    imagecache::SetLimits({0, 250});
    Cached(dir, "d.bin", 200, 4000);
    imagecache::Prune(dir, imagecache::Limits(), dir + "d.bin");
    EXPECT_TRUE(Exists(dir + "d.bin"));
    EXPECT_FALSE(Exists(dir + "a.bin"));
    EXPECT_FALSE(Exists(dir + "b.bin"));
    // An image a session prepares (its lock held) is left alone by pruning and cleaning.
    imagecache::SetLimits({0, 0});
    Cached(dir, "e.bin", 10, 5000);
    imagecache::ClearInUse();
    {
        imagecache::TImageLock busy(dir + "e.bin");
        imagecache::Prune(dir, {1, 0}, dir + "d.bin");
        EXPECT_TRUE(Exists(dir + "e.bin"));
        EXPECT_EQ(imagecache::Clean(dir), 1u);
        EXPECT_TRUE(Exists(dir + "e.bin"));
        EXPECT_FALSE(Exists(dir + "d.bin"));
    }
    mkdir(imagecache::ScratchDir(dir + "e.bin").c_str(), 0700);
    EXPECT_EQ(imagecache::Clean(dir), 1u);
    EXPECT_TRUE(imagecache::List(dir).empty());
    EXPECT_FALSE(Exists(imagecache::ScratchDir(dir + "e.bin")));
    imagecache::SetLimits({});
}

TEST_F(AdminFiles, CacheFolderFollowsXdgAndRefusesAnUnsafeOne) {
    imagecache::SetCacheDir("");
    EXPECT_EQ(imagecache::CacheDir(), Root + "cache/ipcam-upgrade/");
    struct stat st {};
    ASSERT_EQ(stat((Root + "cache/ipcam-upgrade").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A link or a folder open to others is not used: the private work folder serves instead.
    mkdir((Root + "elsewhere").c_str(), 0700);
    ASSERT_EQ(symlink((Root + "elsewhere").c_str(), (Root + "linked").c_str()), 0);
    imagecache::SetCacheDir(Root + "linked");
    EXPECT_EQ(imagecache::CacheDir(), Temp);
    mkdir((Root + "open").c_str(), 0777);
    chmod((Root + "open").c_str(), 0777);
    imagecache::SetCacheDir(Root + "open");
    EXPECT_EQ(imagecache::CacheDir(), Temp);
    imagecache::SetCacheDir(Root + "mine/cache");
    EXPECT_EQ(imagecache::CacheDir(), Root + "mine/cache/");
}

TEST_F(AdminFiles, CopyOfAnImageNeverWritesThroughALink) {
    WriteFile(Root + "image", std::string(3 << 20, 'x'));
    EXPECT_TRUE(imagecache::CopyImage(Root + "image", Root + "copy"));
    EXPECT_EQ(ReadFile(Root + "copy"), ReadFile(Root + "image"));
    WriteFile(Root + "victim", "keep");
    ASSERT_EQ(symlink((Root + "victim").c_str(), (Root + "planted").c_str()), 0);
    EXPECT_FALSE(imagecache::CopyImage(Root + "image", Root + "planted"));
    EXPECT_EQ(ReadFile(Root + "victim"), "keep");
}
