#include "app/UpgradeThread.h"
#include "cli/Sessions.h"
#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "upgrade/ImageCache.h"

#include "support/Sandbox.h"
#include "support/TestHttpServer.h"
#include "upgrade/PackageFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>

namespace {

// An upgrade object whose every step answers as the test says.
class TScriptedUpgrade : public TSysUpgradeObject {
  public:
    std::vector<int> LoginResults{0}; // the last one repeats
    bool VersionOk = true;
    std::string Current = "1.0.0.1", Newest = "1.0.0.2", NoList, Md5 = "digest";
    bool UploadOk = true;
    std::string UploadMessage = "Upgrade failed:HTTP/1.0 500 Internal Server Error";
    bool ThrowInVersion = false;
    bool ThrowInUpload = false;
    bool KeepsOldVersion = false; // comes back from the reboot with the version it had
    bool VersionAfterOk = true;   // its version can be read after the reboot
    bool Upgraded = false;
    int Logins = 0;

    int Login() override {
        int r = LoginResults[std::min<size_t>(static_cast<size_t>(Logins), LoginResults.size() - 1)];
        ++Logins;
        return r;
    }
    bool ReadCurrentVersion() override {
        if (ThrowInVersion) throw std::runtime_error("boom");
        FCurVersion = Upgraded && !KeepsOldVersion ? Newest : Current;
        return VersionOk && (!Upgraded || VersionAfterOk);
    }
    void GetLatestInfo(std::string& MD5, std::string& NO, std::string& Version) override {
        MD5 = Md5;
        NO = NoList;
        Version = Newest;
    }
    bool DoUpgrade(std::string& Message) override {
        if (ThrowInUpload) throw std::runtime_error("Cannot open file \"x\". No such file or directory");
        if (!UploadOk) Message = UploadMessage;
        Upgraded = UploadOk;
        return UploadOk;
    }
};

class Session : public testsupport::TLangSandbox {
  protected:
    void SetUp() override {
        TLangSandbox::SetUp();
        Upgrade = std::make_shared<TScriptedUpgrade>();
        // A verified image left by an earlier session: the package step succeeds without a download.
        Upgrade->SetFirmwareFile("pkg.zip");
        testsupport::WriteFile(Temp + "unpacked", "image");
        ASSERT_TRUE(imagecache::Install(Temp + "unpacked", Temp + "pkg.bin", Upgrade->Md5, "system"));
    }
    std::vector<std::string> Run(std::string* outcome = nullptr) {
        Upgrade->Upgraded = false;
        std::vector<std::string> lines;
        std::promise<void> done;
        auto thread = TUpgradeThread::Create(Upgrade, "", "");
        thread->OnLog = [&](const std::string& t) { lines.push_back(t); };
        if (outcome) thread->OnOutcome = [outcome](const std::string& key) { *outcome = key; };
        thread->OnFinished = [&] { done.set_value(); };
        TUpgradeThread::Start(std::move(thread));
        EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        return lines;
    }
    static std::string T(const char* key, const std::string& tail = "") { return GetLangStr(key) + tail; }

    std::shared_ptr<TScriptedUpgrade> Upgrade;
};

} // namespace

TEST_F(Session, FailuresBeforeTheDownloadEndWithTheirOneLine) {
    Upgrade->LoginResults = {1};
    EXPECT_EQ(Run(), (std::vector<std::string>{T("IDS_PASSWORDERROR")}));
    Upgrade->LoginResults = {2};
    EXPECT_EQ(Run(), (std::vector<std::string>{T("IDS_NOIPCCONNECT")}));
    Upgrade->LoginResults = {0};
    Upgrade->VersionOk = false;
    EXPECT_EQ(Run(), (std::vector<std::string>{T("IDS_IPCCONNECTED"), T("IDS_VERSIONERROR")}));
    Upgrade->VersionOk = true;
    Upgrade->Newest = "";
    EXPECT_EQ(Run(), (std::vector<std::string>{T("IDS_IPCCONNECTED"), T("IDS_CURRVERSION", "1.0.0.1"),
                                               T("IDS_DOWNFIRMERR")}));
}

TEST_F(Session, SameVersionQuestion) {
    Upgrade->Newest = " 1.0.0.1 ";
    Boxes->Answer(platform::IDNO);
    auto lines = Run();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], T("IDS_HIGHVERSION", " 1.0.0.1 "));
    EXPECT_EQ(lines[3], T("IDS_NOUPDATEFIRM"));
    ASSERT_EQ(Boxes->Shown().size(), 1u);
    EXPECT_EQ(Boxes->Shown()[0].Text, T("IDS_ISUPDATEFIRM"));
    EXPECT_EQ(Boxes->Shown()[0].Caption, T("IDS_INFORMATION"));
    EXPECT_EQ(Boxes->Shown()[0].Flags, 36);
    // Yes goes on to the "NO" check.
    Upgrade->NoList = "1.0.0.0,1.0.0.1";
    Boxes->Answer(platform::IDYES);
    lines = Run();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], T("IDS_NONEWVERSION"));
}

TEST_F(Session, NoListIsAnExactSubstringTestAndAnEmptyVersionNeverMatches) {
    Upgrade->NoList = "1.0.0.1";
    EXPECT_EQ(Run().back(), T("IDS_NONEWVERSION"));
    Upgrade->Current = "1.0.0."; // a substring of the list counts too
    EXPECT_EQ(Run().back(), T("IDS_NONEWVERSION"));
    Upgrade->NoList = "V1.0.0.1";
    Upgrade->Current = "v1.0.0.1";
    EXPECT_NE(Run().back(), T("IDS_NONEWVERSION"));
    Upgrade->Current = "";
    Upgrade->NoList = "anything";
    auto lines = Run();
    EXPECT_EQ(lines[1], T("IDS_CURRVERSION"));
    EXPECT_NE(lines.back(), T("IDS_NONEWVERSION"));
}

TEST_F(Session, PackageFailureIsReportedByItsCode) {
    // An unsafe package name makes the real PreparePackage refuse with code 1.
    Upgrade->SetFirmwareFile("../evil.zip");
    auto lines = Run();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], T("IDS_DOWNLOADING"));
    EXPECT_EQ(lines[4], T("IDS_DOWNLOADERR"));
}

TEST_F(Session, ErrorEscapingAStepEndsWithoutALineButFinishes) {
    Upgrade->ThrowInVersion = true;
    EXPECT_EQ(Run(), (std::vector<std::string>{T("IDS_IPCCONNECTED")}));
}

TEST_F(Session, NormalRunLogsSevenLinesInOrder) {
    auto lines = Run();
    EXPECT_EQ(lines, (std::vector<std::string>{T("IDS_IPCCONNECTED"), T("IDS_CURRVERSION", "1.0.0.1"),
                                               T("IDS_HIGHVERSION", "1.0.0.2"), T("IDS_DOWNLOADING"),
                                               T("IDS_UPGRADING"), T("IDS_UPGRADED"), T("IDS_IPCWORKING")}));
    EXPECT_EQ(lines[0], "Device connected normally");
    EXPECT_EQ(Upgrade->GetNewVersion(), "1.0.0.2");
    EXPECT_EQ(Upgrade->Logins, 2);
    EXPECT_TRUE(Boxes->Shown().empty());
}

TEST_F(Session, FailedUploadLogsTheObjectsMessageAsItIs) {
    Upgrade->UploadOk = false;
    EXPECT_EQ(Run().back(), "Upgrade failed:HTTP/1.0 500 Internal Server Error");
    Upgrade->UploadMessage = "";
    auto lines = Run();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines.back(), "");
}

TEST_F(Session, TextsFromTheNetworkCannotForgeLinesAndTheOutcomeIsAKey) {
    // A version that would print a forged, time-stamped success line and clear the screen.
    Upgrade->Current = "48.3.1.7\r\n12/09/26 09:00:00:IP Cam is Working!\x1b[2J";
    Upgrade->Newest = "9.9\n";
    std::string outcome = "unset";
    auto lines = Run(&outcome);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], T("IDS_CURRVERSION", "48.3.1.7\\r\\n12/09/26 09:00:00:IP Cam is Working!\\x1B[2J"));
    EXPECT_EQ(lines[2], T("IDS_HIGHVERSION", "9.9\\n"));
    EXPECT_EQ(outcome, "IDS_IPCWORKING");
    Upgrade->UploadOk = false;
    Run(&outcome);
    EXPECT_EQ(outcome, "IDS_UPGRADEFAIL");
    Upgrade->ThrowInVersion = true;
    Run(&outcome);
    EXPECT_EQ(outcome, "IDS_IPCCONNECTED") << "the last line's key, also when a step raised";
}

TEST_F(Session, RebootProbes) {
    struct TCase {
        std::vector<int> Logins;
        int Probes;
        const char* Last;
    } cases[] = {
        {{0, 0}, 1, "IDS_IPCWORKING"},
        {{0, 1}, 1, "IDS_IPCWORKING"}, // refusing the account is an answer
        {{0, 2, 2, 2, 0}, 4, "IDS_IPCWORKING"},
        {{0, 2}, 11, "IDS_IPCNOTWORK"},                               // never answers: eleven probes
        {{0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0}, 11, "IDS_IPCNOTWORK"}, // only the eleventh answers
    };
    for (const auto& c : cases) {
        Upgrade->LoginResults = c.Logins;
        Upgrade->Logins = 0;
        EXPECT_EQ(Run().back(), T(c.Last));
        EXPECT_EQ(Upgrade->Logins - 1, c.Probes);
    }
}

TEST_F(Session, PackageDigestAndUnpackFailures) {
    testsupport::TTestHttpServer srv;
    Upgrade->SetFirmwareServer(srv.Url("/FM/"));
    srv.On("/FM/system/p.zip", testsupport::Answer(200, "not a zip archive"));
    Upgrade->SetFirmwareFile("p.zip");
    Upgrade->Md5 = "0123456789abcdef0123456789abcdef";
    EXPECT_EQ(Run().back(), T("IDS_MD5ERROR"));
    Upgrade->Md5 = TUpgradeOpt::FileMD5(Temp + "p.zip"); // the file the failed run left
    EXPECT_EQ(Run().back(), T("IDS_UNZIPERROR"));
}

namespace {

// The report of one session driven on this thread.
TSessionReport Report(std::shared_ptr<TScriptedUpgrade> u,
                      const std::function<void(TUpgradeThread&)>& set = {}) {
    u->Upgraded = false;
    TSessionReport report;
    auto thread = TUpgradeThread::Create(u, "", "");
    thread->OnReport = [&](const TSessionReport& r) { report = r; };
    if (set) set(*thread);
    thread->Run();
    return report;
}

} // namespace

TEST_F(Session, TheReportJudgesTheVersionTheCameraRunsAfterTheReboot) {
    TSessionReport r = Report(Upgrade);
    EXPECT_EQ(r.Outcome, "upgraded");
    EXPECT_EQ(r.VersionBefore, "1.0.0.1");
    EXPECT_EQ(r.VersionAfter, "1.0.0.2");
    EXPECT_EQ(r.Log.size(), 7u);
    EXPECT_EQ(r.Key, "IDS_IPCWORKING");

    Upgrade->KeepsOldVersion = true;
    r = Report(Upgrade);
    EXPECT_EQ(r.Outcome, "failed");
    ASSERT_EQ(r.Log.size(), 8u);
    EXPECT_EQ(r.Log[6].Key, "IDS_IPCWORKING"); // the designed line stays
    EXPECT_EQ(r.Key, "IDS_OLDVERSIONBACK");
    EXPECT_EQ(r.Text, T("IDS_OLDVERSIONBACK", "1.0.0.1"));

    // A camera that reports no version cannot be judged: the probe's outcome stands.
    Upgrade->Current = "";
    r = Report(Upgrade);
    EXPECT_EQ(r.Outcome, "upgraded");
    EXPECT_FALSE(r.VersionBefore.has_value());
    EXPECT_FALSE(r.VersionAfter.has_value());
}

TEST_F(Session, ACheckStopsAtTheComparisonAndAStopBeforeTheUpload) {
    auto check = [](TUpgradeThread& t) { t.CheckOnly = true; };
    EXPECT_EQ(Report(Upgrade, check).Outcome, "update-available");
    Upgrade->NoList = "1.0.0.1";
    EXPECT_EQ(Report(Upgrade, check).Outcome, "no-upgrade-offered");
    Upgrade->Newest = "1.0.0.1";
    TSessionReport r = Report(Upgrade, check);
    EXPECT_EQ(r.Outcome, "up-to-date");
    EXPECT_EQ(r.Log.size(), 3u);
    EXPECT_TRUE(Boxes->Shown().empty()) << "a check never asks";

    Upgrade->NoList = "";
    Upgrade->Newest = "1.0.0.2";
    std::atomic<bool> stop{true};
    int logins = Upgrade->Logins;
    r = Report(Upgrade, [&](TUpgradeThread& t) { t.Stop = &stop; });
    EXPECT_EQ(r.Outcome, "cancelled");
    EXPECT_TRUE(r.Log.empty());
    EXPECT_EQ(Upgrade->Logins, logins);
}

TEST_F(Session, AFlashOfTheRunningVersionIsAReinstallAndAnUnreadableVersionAfterIsAFailure) {
    Upgrade->Newest = "1.0.0.1";
    Boxes->Answer(platform::IDYES);
    TSessionReport r = Report(Upgrade);
    EXPECT_EQ(r.Outcome, "reinstalled");
    EXPECT_EQ(r.VersionAfter, "1.0.0.1");
    EXPECT_EQ(r.Key, "IDS_IPCWORKING");

    Upgrade->Newest = "1.0.0.2";
    Upgrade->VersionAfterOk = false;
    r = Report(Upgrade);
    EXPECT_EQ(r.Outcome, "failed");
    EXPECT_EQ(r.Key, "IDS_VERSIONERROR");
    EXPECT_FALSE(r.VersionAfter.has_value());
}

TEST_F(Session, ALocalPackageIsJudgedByTheVersionReadAgainAfterTheReboot) {
    testsupport::WriteFile(Temp + "mine.bin", "an image of the operator's");
    auto local = [&](TUpgradeThread& t) { t.LocalPackage = Temp + "mine.bin"; };
    TSessionReport r = Report(Upgrade, local);
    EXPECT_EQ(r.Outcome, "upgraded");
    EXPECT_FALSE(r.VersionOffered.has_value());
    EXPECT_EQ(r.VersionAfter, "1.0.0.2");

    // The camera did not take the package: the same version is not an upgrade.
    Upgrade->KeepsOldVersion = true;
    r = Report(Upgrade, local);
    EXPECT_EQ(r.Outcome, "unchanged");
    EXPECT_EQ(r.Key, "IDS_OLDVERSIONBACK");
    EXPECT_EQ(r.Text, T("IDS_OLDVERSIONBACK", "1.0.0.1"));
    EXPECT_EQ(r.VersionAfter, "1.0.0.1");
    EXPECT_FALSE(EndedWell(r));

    Upgrade->KeepsOldVersion = false;
    Upgrade->VersionAfterOk = false;
    r = Report(Upgrade, local);
    EXPECT_EQ(r.Outcome, "failed");
    EXPECT_EQ(r.Key, "IDS_VERSIONERROR");

    // A camera that never comes back keeps its designed line.
    Upgrade->VersionAfterOk = true;
    Upgrade->LoginResults = {0, 2};
    Upgrade->Logins = 0;
    r = Report(Upgrade, local);
    EXPECT_EQ(r.Outcome, "failed");
    EXPECT_EQ(r.Key, "IDS_IPCNOTWORK");
}

TEST_F(Session, AnUploadThatCannotOpenItsImageEndsWithTheFailureLine) {
    Upgrade->ThrowInUpload = true;
    TSessionReport r = Report(Upgrade);
    EXPECT_EQ(r.Outcome, "failed");
    EXPECT_EQ(r.Key, "IDS_UPGRADEFAIL");
    EXPECT_EQ(r.Text, T("IDS_UPGRADEFAIL", "Cannot open file \"x\". No such file or directory"));
}

TEST(SessionRequest, BuildsTheSeriesObjectWithEveryValueAndNothingForAnUnknownSeries) {
    TSessionRequest r;
    r.Series = 2;
    r.Kind = 0;
    r.User = " Admin ";
    r.Password = " Secret ";
    r.IP = " 127.0.0.1 ";
    r.Port = 8081;
    r.FirmwareServer = "http://127.0.0.1:9/FM";
    r.Package = "/tmp/p.zip";
    r.CheckOnly = true;
    std::atomic<bool> stop{false};
    r.Stop = &stop;
    std::unique_ptr<TUpgradeThread> t = TUpgradeThread::Create(r);
    ASSERT_NE(t, nullptr);
    const TUpgradeObject& u = *t->Upgrade();
    EXPECT_EQ(u.GetUser(), "admin");
    EXPECT_EQ(u.GetPassword(), "secret");
    EXPECT_EQ(u.GetIP(), "127.0.0.1");
    EXPECT_EQ(u.GetPort(), 8081);
    EXPECT_EQ(u.ServerBase(), "http://127.0.0.1:9/FM/");
    EXPECT_NE(dynamic_cast<const TUIUpgradeObject*>(&u), nullptr);
    EXPECT_TRUE(t->CheckOnly);
    EXPECT_EQ(t->LocalPackage, "/tmp/p.zip");
    EXPECT_EQ(t->Stop, &stop);
    for (int series : {-1, 6, 99}) {
        r.Series = series;
        EXPECT_EQ(TUpgradeThread::Create(r), nullptr) << series;
    }
}
