// The image cache against real packages from a real server, with real second processes: what is
// reused, what is fetched again, and what a hostile package or a planted link can no longer do.
#include "upgrade/ImageCache.h"
#include "upgrade/PackageFiles.h"
#include "upgrade/UpgradeObject.h"

#include "support/ServerSandbox.h"
#include "support/TestHttpServer.h"
#include "support/ZipBuilder.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace testsupport;

namespace {

class TSys : public TSysUpgradeObject {};
class TUI : public TUIUpgradeObject {
  public:
    void SetOem(const std::string& oem) { FOEMName = oem; }
};

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Cache : public TServerSandbox {
  protected:
    // Serves a package at /FM/<folder>/<name> and gives its digest.
    std::string Serve(const std::string& folder, const std::string& name,
                      const std::vector<TZipEntry>& entries, size_t trickle = 0) {
        std::string zip = Root + folder + "-" + name;
        WriteZip(zip, entries);
        TCanned pkg;
        pkg.Head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        pkg.Body = ReadFile(zip);
        pkg.Head += "Content-Length: " + std::to_string(pkg.Body.size()) + "\r\n";
        pkg.TrickleBytes = trickle;
        pkg.TrickleDelayMs = trickle ? 2 : 0;
        Srv.On("/FM/" + folder + "/" + name, pkg);
        return TUpgradeOpt::FileMD5(zip);
    }
    template <class T> int Prepare(T& u, const std::string& name, const std::string& md5) {
        u.SetIP("127.0.0.1");
        u.SetFirmwareServer(ServerURL());
        u.SetFirmwareFile(name);
        return u.PreparePackage(md5);
    }
};

} // namespace

TEST_F(Cache, ReusedOnlyForTheSameDigestAndFolder) {
    std::string md5 = Serve("system", "pkg.zip", {{"pkg.bin", "system image"}});
    TSys sys;
    ASSERT_EQ(Prepare(sys, "pkg.zip", md5), 0);
    ASSERT_EQ(Srv.CountFor("/FM/system/pkg.zip"), 1u);
    EXPECT_EQ(Prepare(sys, "pkg.zip", md5), 0);
    EXPECT_EQ(Srv.CountFor("/FM/system/pkg.zip"), 1u) << "the verified image is reused";
    EXPECT_EQ(Prepare(sys, "pkg.zip", "0123456789abcdef0123456789abcdef"), 2)
        << "another digest fetches again";
    EXPECT_EQ(Srv.CountFor("/FM/system/pkg.zip"), 2u);

    // Another folder's package of the same name is never taken for this one.
    std::string oemMd5 = Serve("oemx", "pkg.zip", {{"pkg.bin", "ui image"}});
    TUI ui;
    ui.SetOem("OEMX");
    ASSERT_EQ(Prepare(ui, "pkg.zip", oemMd5), 0);
    EXPECT_EQ(ReadFile(Temp + "pkg.bin"), "ui image");
    ASSERT_EQ(Prepare(sys, "pkg.zip", md5), 0);
    EXPECT_EQ(ReadFile(Temp + "pkg.bin"), "system image");
    EXPECT_EQ(Srv.CountFor("/FM/system/pkg.zip"), 3u);
}

TEST_F(Cache, TwoProcessesDownloadOnceAndBothGetTheWholeImage) {
    std::string image(2 << 20, 'i');
    for (size_t i = 0; i < image.size(); i += 4099)
        image[i] = static_cast<char>(i);
    std::string md5 = Serve("system", "big.zip", {{"big.bin", image}}, 64 * 1024);
    std::vector<pid_t> children;
    for (int i = 0; i < 2; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            TSys u;
            int rc = Prepare(u, "big.zip", md5);
            _exit(rc == 0 && ReadFile(u.GetImagePath()) == image ? 0 : 10 + rc);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(Srv.CountFor("/FM/system/big.zip"), 1u);
}

TEST_F(Cache, ARunKilledWhileUnpackingLeavesNoImage) {
    // Large and well compressed: a quick download and an unpack that takes a while.
    std::string md5 = Serve("system", "huge.zip", {{"huge.bin", std::string(96 << 20, '\0')}});
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        TSys u;
        _exit(Prepare(u, "huge.zip", md5));
    }
    std::string scratch = imagecache::ScratchDir(Temp + "huge.bin") + "huge.bin";
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Exists(scratch) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child finished before it could be killed";
    EXPECT_FALSE(Exists(Temp + "huge.bin"));
    TSys again;
    EXPECT_EQ(Prepare(again, "huge.zip", md5), 0);
    EXPECT_EQ(ReadFile(Temp + "huge.bin").size(), size_t(96) << 20);
    EXPECT_FALSE(Exists(imagecache::ScratchDir(Temp + "huge.bin")));
}

TEST_F(Cache, AnArchiveWritesNothingButTheImage) {
    std::string exe = platform::ExePath();
    std::string program = exe.substr(exe.rfind('/') + 1);
    ASSERT_EQ(mkdir((Temp + program).c_str(), 0700), 0);
    WriteFile(Temp + program + "/lang.en", "the program's own texts");
    std::vector<TZipEntry> entries = {{"pkg.bin", "image"}, {program + "/lang.en", "forged texts"}};
    for (int i = 0; i < 200; ++i)
        entries.emplace_back("side/" + std::to_string(i), "x");
    TSys u;
    ASSERT_EQ(Prepare(u, "pkg.zip", Serve("system", "pkg.zip", entries)), 0);
    EXPECT_EQ(ReadFile(Temp + program + "/lang.en"), "the program's own texts");
    std::vector<std::string> names = Listing(Temp);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0].rfind(".session-", 0), 0u) << "the session's own name for its image";
    names.erase(names.begin());
    EXPECT_EQ(names, (std::vector<std::string>{".sessions.lock", program, "pkg.bin", "pkg.bin.lock",
                                               "pkg.bin.verified"}));

    // A refused archive leaves nothing behind either.
    entries = {{"pkg2.bin", "image"}, {"junk", std::string(1 << 20, 'j')}, {"../escape", "x"}};
    EXPECT_EQ(Prepare(u, "pkg2.zip", Serve("system", "pkg2.zip", entries)), 3);
    EXPECT_FALSE(Exists(Temp + "junk"));
    EXPECT_FALSE(Exists(Temp + "pkg2.bin"));
    EXPECT_FALSE(Exists(imagecache::ScratchDir(Temp + "pkg2.bin")));
}

TEST_F(Cache, ASessionKeepsUploadingItsImageWhenAnotherReplacesTheSharedOne) {
    auto first = std::make_unique<TSys>();
    TSys second;
    ASSERT_EQ(Prepare(*first, "pkg.zip", Serve("system", "pkg.zip", {{"pkg.bin", "old image"}})), 0);
    ASSERT_EQ(Prepare(second, "pkg.zip", Serve("system", "pkg.zip", {{"pkg.bin", "new image"}})), 0);
    EXPECT_EQ(ReadFile(Temp + "pkg.bin"), "new image");
    EXPECT_EQ(ReadFile(first->GetImagePath()), "old image");
    EXPECT_EQ(ReadFile(second.GetImagePath()), "new image");
    std::string own = first->GetImagePath();
    first.reset();
    EXPECT_FALSE(Exists(own.substr(0, own.rfind('/')))) << "the session's folder goes with it";
}

TEST_F(Cache, WhatStandsAtTheImageOrPackageNameIsReplacedNeverFollowed) {
    std::string md5 = Serve("system", "pkg.zip", {{"pkg.bin", "image"}});
    WriteFile(Root + "secret", "secret");
    WriteFile(Root + "victim", "victim");
    // A folder left at the image's name, a link at the package's name.
    ASSERT_EQ(mkdir((Temp + "pkg.bin").c_str(), 0700), 0);
    WriteFile(Temp + "pkg.bin/inside", "x");
    ASSERT_EQ(symlink((Root + "victim").c_str(), (Temp + "pkg.zip").c_str()), 0);
    TSys u;
    ASSERT_EQ(Prepare(u, "pkg.zip", md5), 0);
    EXPECT_EQ(ReadFile(Temp + "pkg.bin"), "image");
    EXPECT_EQ(ReadFile(Root + "victim"), "victim");

    // A link at the image's name with a record that would match: the link is not the image.
    WriteFile(Temp + "copy", ReadFile(Root + "secret"));
    ASSERT_TRUE(imagecache::Install(Temp + "copy", Temp + "pkg.bin", md5, "system"));
    unlink((Temp + "pkg.bin").c_str());
    ASSERT_EQ(symlink((Root + "secret").c_str(), (Temp + "pkg.bin").c_str()), 0);
    ASSERT_EQ(Prepare(u, "pkg.zip", md5), 0);
    EXPECT_EQ(ReadFile(Temp + "pkg.bin"), "image");
    EXPECT_TRUE(IsPlainFile(Temp + "pkg.bin"));
    EXPECT_EQ(ReadFile(Root + "secret"), "secret");
}

TEST_F(Cache, NamesThatLeaveTheFolderOrTakeOurFilesFetchNothing) {
    TSys sys;
    for (const std::string& name :
         std::vector<std::string>{"Firmware.ini", ".hidden.zip", "pkg.lock", "pkg.verified", "x.unpack",
                                  "a/b.zip", std::string(300, 'n')}) {
        EXPECT_EQ(Prepare(sys, name, "d41d8cd98f00b204e9800998ecf8427e"), 1) << name;
    }
    TUI ui;
    ui.SetFirmwareServer(ServerURL());
    for (const std::string& oem :
         std::vector<std::string>{".", "..", " .. ", "\r\n", std::string(300, 'o')}) {
        ui.SetOem(oem);
        std::string md5, no, version;
        ui.SetModel("M1");
        ui.GetLatestInfo(md5, no, version);
        EXPECT_EQ(version, "") << oem;
        EXPECT_EQ(Prepare(ui, "pkg.zip", "d41d8cd98f00b204e9800998ecf8427e"), 1) << oem;
    }
    EXPECT_EQ(Srv.RequestCount(), 0u);
}

TEST_F(Cache, FirmwareListsAreBounded) {
    TSys sys;
    sys.SetFirmwareServer(ServerURL());
    sys.SetModel("M1");
    std::string list = "[M1]\r\nSysVer=1.2.3.4\r\n" + std::string(2 << 20, ';');
    Srv.On("/FM/system/firmware.txt", Answer(200, list));
    std::string md5, no, version;
    sys.GetLatestInfo(md5, no, version);
    EXPECT_EQ(version, "");
    ASSERT_EQ(Boxes->Shown().size(), 1u);

    // An endless list: no length, a body that never ends. It is cut at the bound.
    TCanned endless;
    endless.Head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    endless.Body = "[M1]\r\nSysVer=1.2.3.4\r\n" + std::string(4 << 20, ';');
    endless.TrickleBytes = 64 * 1024;
    Srv.On("/FM/system/firmware.txt", endless);
    sys.GetLatestInfo(md5, no, version);
    EXPECT_EQ(version, "");
    EXPECT_LE(ReadFile(Temp + "Firmware.ini").size(), TUpgradeOpt::MaxListSize);
}
