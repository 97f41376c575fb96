#include "UpgradeThread.h"

#include "base/Progress.h"
#include "lang/Charset.h"
#include "lang/Lang.h"
#include "platform/Platform.h"
#include "upgrade/UpgradeFactory.h"

#include <algorithm>
#include <ctime>
#include <thread>

TUpgradeThread::TUpgradeThread(TKey, std::shared_ptr<TUpgradeObject> Upgrade, std::string MD5, std::string NO)
    : FUpgrade(std::move(Upgrade)), FMD5(std::move(MD5)), FNoList(std::move(NO)) {}

std::unique_ptr<TUpgradeThread> TUpgradeThread::Create(std::shared_ptr<TUpgradeObject> Upgrade,
                                                       std::string MD5, std::string NO) {
    return std::make_unique<TUpgradeThread>(TKey{}, std::move(Upgrade), std::move(MD5), std::move(NO));
}

std::unique_ptr<TUpgradeThread> TUpgradeThread::Create(const TSessionRequest& Request) {
    std::shared_ptr<TUpgradeObject> u = TUpgradeFactory::CreateUpgrade(Request.Series, Request.Kind);
    if (!u) return nullptr;
    u->SetUser(Request.User);
    u->SetPassword(Request.Password);
    u->SetIP(TrimText(Request.IP));
    u->SetPort(Request.Port);
    u->SetFirmwareServer(Request.FirmwareServer);
    u->SetCaFile(Request.CaFile);
    auto thread = Create(std::move(u), "", "");
    thread->CheckOnly = Request.CheckOnly;
    thread->LocalPackage = Request.Package;
    thread->PackageMD5 = Request.PackageMD5;
    thread->PackageSHA256 = Request.PackageSHA256;
    thread->Stop = Request.Stop;
    return thread;
}

void TUpgradeThread::Start(std::unique_ptr<TUpgradeThread> Thread) {
    std::thread([self = std::move(Thread)]() mutable {
        self->Run();
        self.reset();
    }).detach();
}

void TUpgradeThread::Run() {
    auto begin = std::chrono::steady_clock::now();
    try {
        Execute();
    } catch (...) {
        // An error that escapes a step ends the session without a line, its outcome as it stood.
    }
    FReport.DurationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin)
            .count();
    if (!FReport.Log.empty()) {
        FReport.Key = FReport.Log.back().Key;
        FReport.Text = FReport.Log.back().Text;
    }
    if (OnReport) OnReport(FReport);
    if (OnOutcome) platform::Synchronize([&] { OnOutcome(FLastKey); });
    if (OnFinished) platform::Synchronize([&] { OnFinished(); });
}

void TUpgradeThread::Log(const std::string& Text) {
    FLogText = Text;
    FReport.Log.push_back({std::chrono::system_clock::now(), FLastKey, Text});
    platform::Synchronize([this] { DoLog(); });
}

void TUpgradeThread::DoLog() {
    if (OnLog) OnLog(FLogText);
}

void TUpgradeThread::LogKey(const std::string& Key, const std::string& Tail) {
    // The tail is a version from the camera or the firmware list: one event stays one line.
    FLastKey = Key;
    Log(GetLangStr(Key) + EscapeControls(CameraText(Tail)));
}

bool TUpgradeThread::Stopped() {
    if (!Stop || !Stop->load()) return false;
    FReport.Outcome = "cancelled";
    return true;
}

void TUpgradeThread::Execute() {
    progress::TScope reporting(OnProgress);
    TUpgradeObject& U = *FUpgrade;
    FReport.Outcome = "failed";
    FReinstall = false;
    if (Stopped()) return;
    switch (U.Login()) {
    case 0:
        LogKey("IDS_IPCCONNECTED");
        break;
    case 1:
        LogKey("IDS_PASSWORDERROR");
        return;
    default:
        LogKey("IDS_NOIPCCONNECT");
        return;
    }
    if (!U.ReadCurrentVersion()) {
        LogKey("IDS_VERSIONERROR");
        return;
    }
    LogKey("IDS_CURRVERSION", U.GetCurVersion());
    // Reports carry versions without the blanks some cameras pad them with.
    if (!TrimText(U.GetCurVersion()).empty()) FReport.VersionBefore = TrimText(U.GetCurVersion());
    if (!(LocalPackage.empty() ? FetchPackage(U) : TakeLocalPackage(U))) return;
    if (Stopped()) return;
    LogKey("IDS_UPGRADING");
    std::string message;
    bool uploaded = false;
    try {
        uploaded = U.DoUpgrade(message);
    } catch (const std::exception& e) {
        // An image that cannot be opened or read: the upload failed, and says why.
        message = GetLangStr("IDS_UPGRADEFAIL") + EscapeControls(e.what());
    }
    if (!uploaded) {
        FLastKey = "IDS_UPGRADEFAIL";
        Log(message);
        return;
    }
    LogKey("IDS_UPGRADED");
    progress::Report(progress::TStage::Reboot, 0, -1);
    platform::Sleep(std::max(RebootWait, U.MinRebootWait()));
    int n = 0;
    for (;;) {
        int p = U.Login();
        if (p != 2 || n >= MaxProbePauses) break;
        platform::Sleep(ProbePause);
        ++n;
    }
    if (n >= MaxProbePauses) {
        LogKey("IDS_IPCNOTWORK");
        return;
    }
    LogKey("IDS_IPCWORKING");
    CheckVersionAfter(U);
}

// From the firmware list to a verified image (or a local package checked and in place); false
// when the session ends here, with its outcome set.
bool TUpgradeThread::FetchPackage(TUpgradeObject& U) {
    std::string version;
    U.GetLatestInfo(FMD5, FNoList, version);
    U.SetNewVersion(version);
    if (U.GetNewVersion().empty()) {
        // Without a section the firmware list was never asked: what the camera's pages gave
        // does not fit the series, and the server is not the one to blame.
        LogKey(U.GetSectionName().empty() ? "IDS_SERIESWRONG" : "IDS_DOWNFIRMERR");
        return false;
    }
    LogKey("IDS_HIGHVERSION", U.GetNewVersion());
    FReport.VersionOffered = TrimText(U.GetNewVersion());
    bool same = U.IsSameVersion(U.GetNewVersion());
    bool refused = !U.GetCurVersion().empty() && FNoList.find(U.GetCurVersion()) != std::string::npos;
    if (CheckOnly) {
        FReport.Outcome = same ? "up-to-date" : refused ? "no-upgrade-offered" : "update-available";
        return false;
    }
    FReinstall = same;
    if (same) {
        int answer = platform::MessageBox(GetLangStr("IDS_ISUPDATEFIRM"), GetLangStr("IDS_INFORMATION"),
                                          platform::MB_YESNO | platform::MB_ICONQUESTION);
        if (answer == platform::IDNO) {
            LogKey("IDS_NOUPDATEFIRM");
            FReport.Outcome = "up-to-date";
            return false;
        }
    }
    if (refused) {
        LogKey("IDS_NONEWVERSION");
        FReport.Outcome = "no-upgrade-offered";
        return false;
    }
    if (Stopped()) return false;
    LogKey("IDS_DOWNLOADING");
    return PackageReady(U.PreparePackage(FMD5), "IDS_DOWNLOADERR", "IDS_UNKNOWERROR");
}

bool TUpgradeThread::PackageReady(int Code, const char* Unread, const char* Other) {
    static const char* const keys[] = {nullptr, Unread, "IDS_MD5ERROR", "IDS_UNZIPERROR"};
    if (Code == 0) return true;
    LogKey(Code > 0 && Code < 4 ? keys[Code] : Other);
    return false;
}

bool TUpgradeThread::TakeLocalPackage(TUpgradeObject& U) {
    LogKey("IDS_LOCALPACKAGE", LocalPackage.substr(LocalPackage.rfind('/') + 1));
    if (Stopped()) return false;
    return PackageReady(U.PrepareLocalPackage(LocalPackage, PackageMD5, PackageSHA256), "IDS_PACKAGEERROR",
                        "IDS_PACKAGEERROR");
}

void TUpgradeThread::CheckVersionAfter(TUpgradeObject& U) {
    // Only a camera that reported its version before can be judged; the others keep the outcome
    // of the probe.
    FReport.Outcome = "upgraded";
    if (!FReport.VersionBefore) return;
    if (!U.ReadCurrentVersion() || TrimText(U.GetCurVersion()).empty()) {
        LogKey("IDS_VERSIONERROR");
        FReport.Outcome = "failed";
        return;
    }
    FReport.VersionAfter = TrimText(U.GetCurVersion());
    if (FReport.VersionOffered) {
        if (U.IsSameVersion(U.GetNewVersion())) {
            if (FReinstall) FReport.Outcome = "reinstalled";
            return;
        }
        FReport.Outcome = "failed";
    } else {
        // A local package names no version: the camera must run another one than before.
        if (LowerCase(*FReport.VersionAfter) != LowerCase(*FReport.VersionBefore)) return;
        FReport.Outcome = "unchanged";
    }
    LogKey("IDS_OLDVERSIONBACK", U.GetCurVersion());
}

std::string LogTimeStamp() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
    return std::string(buf, n) + ":";
}
