#include "UpgradeThread.h"

#include "base/Progress.h"
#include "lang/Lang.h"
#include "platform/Platform.h"

#include <ctime>
#include <thread>

TUpgradeThread::TUpgradeThread(TKey, std::shared_ptr<TUpgradeObject> Upgrade, std::string MD5, std::string NO)
    : FUpgrade(std::move(Upgrade)), FMD5(std::move(MD5)), FNoList(std::move(NO)) {}

std::unique_ptr<TUpgradeThread> TUpgradeThread::Create(std::shared_ptr<TUpgradeObject> Upgrade,
                                                       std::string MD5, std::string NO) {
    return std::make_unique<TUpgradeThread>(TKey{}, std::move(Upgrade), std::move(MD5), std::move(NO));
}

void TUpgradeThread::Start(std::unique_ptr<TUpgradeThread> Thread) {
    std::thread([self = std::move(Thread)]() mutable {
        try {
            self->Execute();
        } catch (...) {
            // An error that escapes a step ends the session without a line.
        }
        if (self->OnOutcome) platform::Synchronize([&] { self->OnOutcome(self->FLastKey); });
        if (self->OnFinished) platform::Synchronize([&] { self->OnFinished(); });
        self.reset();
    }).detach();
}

void TUpgradeThread::Log(const std::string& Text) {
    FLogText = Text;
    platform::Synchronize([this] { DoLog(); });
}

void TUpgradeThread::DoLog() {
    if (OnLog) OnLog(FLogText);
}

void TUpgradeThread::LogKey(const std::string& Key, const std::string& Tail) {
    // The tail is a version from the camera or the firmware list: one event stays one line.
    FLastKey = Key;
    Log(GetLangStr(Key) + EscapeControls(Tail));
}

void TUpgradeThread::Execute() {
    progress::TScope reporting(OnProgress);
    TUpgradeObject& U = *FUpgrade;
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
    std::string version;
    U.GetLatestInfo(FMD5, FNoList, version);
    U.SetNewVersion(version);
    if (U.GetNewVersion().empty()) {
        LogKey("IDS_DOWNFIRMERR");
        return;
    }
    LogKey("IDS_HIGHVERSION", U.GetNewVersion());
    if (U.IsSameVersion(U.GetNewVersion())) {
        int answer = platform::MessageBox(GetLangStr("IDS_ISUPDATEFIRM"), GetLangStr("IDS_INFORMATION"),
                                          platform::MB_YESNO | platform::MB_ICONQUESTION);
        if (answer == platform::IDNO) {
            LogKey("IDS_NOUPDATEFIRM");
            return;
        }
    }
    if (!U.GetCurVersion().empty() && FNoList.find(U.GetCurVersion()) != std::string::npos) {
        LogKey("IDS_NONEWVERSION");
        return;
    }
    LogKey("IDS_DOWNLOADING");
    switch (U.PreparePackage(FMD5)) {
    case 0:
        break;
    case 1:
        LogKey("IDS_DOWNLOADERR");
        return;
    case 2:
        LogKey("IDS_MD5ERROR");
        return;
    case 3:
        LogKey("IDS_UNZIPERROR");
        return;
    default:
        LogKey("IDS_UNKNOWERROR");
        return;
    }
    LogKey("IDS_UPGRADING");
    std::string message;
    if (!U.DoUpgrade(message)) {
        FLastKey = "IDS_UPGRADEFAIL";
        Log(message);
        return;
    }
    LogKey("IDS_UPGRADED");
    progress::Report(progress::TStage::Reboot, 0, -1);
    platform::Sleep(RebootWait);
    int n = 0;
    for (;;) {
        int p = U.Login();
        if (p != 2 || n >= MaxProbePauses) break;
        platform::Sleep(ProbePause);
        ++n;
    }
    LogKey(n < MaxProbePauses ? "IDS_IPCWORKING" : "IDS_IPCNOTWORK");
}

std::string LogTimeStamp() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
    return std::string(buf, n) + ":";
}
