// One upgrade of one firmware kind on one camera, from the login to the check after the reboot,
// on a worker thread of its own. Every outcome is one log line.
#pragma once

#include "base/Progress.h"
#include "upgrade/UpgradeObject.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The log's time stamp, the same in the window and on the command line: the locale's short
// date, a blank, its long time and ":".
std::string LogTimeStamp();

// What one session did, for reports: every line with its key, the versions seen and how it ended.
struct TSessionReport {
    struct TLine {
        std::chrono::system_clock::time_point Time;
        std::string Key, Text;
    };
    // "upgraded", "reinstalled" (the version it ran, flashed again), "unchanged" (a local
    // package after which the camera runs the version it ran before), "up-to-date",
    // "no-upgrade-offered", "update-available" (a check only), "cancelled" (stopped before its
    // upload) or "failed".
    std::string Outcome = "failed";
    std::string Key, Text; // of the last line
    std::optional<std::string> VersionBefore, VersionOffered, VersionAfter;
    int64_t DurationMs = 0;
    std::vector<TLine> Log;
};

// One session as the operator asked for it, in values: both front ends fill one in, and the
// session is built from it alone.
struct TSessionRequest {
    int Series = -1; // the index in "EFHTCO": E, F, H, T, C, or a standard (ONVIF) camera
    int Kind = 1;    // 1 the system firmware, 0 the UI firmware
    std::string User, Password, IP;
    int Port = 81;
    // As the operator gave it: a URL or a folder; empty when none is set anywhere.
    std::string FirmwareServer;
    // The PEM file of the firmware server's private certificate authority; empty: the system's.
    std::string CaFile;
    // An image, .pk2 or ZIP of the operator's instead of the server's newest package, with the
    // digests it must have (empty: not checked).
    std::string Package, PackageMD5, PackageSHA256;
    // Stop after the version comparison: nothing is downloaded or uploaded.
    bool CheckOnly = false;
    // Set from another thread: the session ends before it downloads or uploads.
    const std::atomic<bool>* Stop = nullptr;
};

class TUpgradeThread {
    struct TKey {
        explicit TKey() = default;
    };

  public:
    TUpgradeThread(TKey, std::shared_ptr<TUpgradeObject> Upgrade, std::string MD5, std::string NO);

    using TLogEvent = std::function<void(const std::string& Text)>;
    using TNotifyEvent = std::function<void()>;

    static constexpr int64_t RebootWait = 40000;
    static constexpr int64_t ProbePause = 1000;
    static constexpr int MaxProbePauses = 10;

    // The session keeps the upgrade object alive for as long as it runs.
    static std::unique_ptr<TUpgradeThread> Create(std::shared_ptr<TUpgradeObject> Upgrade, std::string MD5,
                                                  std::string NO);
    // The session a request asks for, with the series' upgrade object made and set up from it;
    // null when the series or the firmware kind is unknown.
    static std::unique_ptr<TUpgradeThread> Create(const TSessionRequest& Request);
    // The series' object of this session: what it read of the camera stays readable after Run.
    const std::shared_ptr<TUpgradeObject>& Upgrade() const { return FUpgrade; }
    // Runs the session; the thread owns and frees itself, so the caller keeps no pointer to it.
    // OnLog and OnFinished run through platform::Synchronize; OnFinished always runs last.
    static void Start(std::unique_ptr<TUpgradeThread> Thread);

    TLogEvent OnLog;
    TNotifyEvent OnFinished;
    // Just before OnFinished: the message key of the session's last line ("IDS_UPGRADEFAIL" for a
    // failed upload, whose line is the upload's own message; empty when the session ended
    // without a line). Callers judge the outcome by it, never by the translated text.
    std::function<void(const std::string& Key)> OnOutcome;
    // Progress of the download, the upload, the CTP records and the reboot wait, on the worker
    // thread itself (not handed over): the window posts it on, the terminal draws it.
    progress::TSink OnProgress;
    // Just before OnOutcome, on the worker thread: the whole session.
    std::function<void(const TSessionReport& Report)> OnReport;

    // Stop after the version comparison: nothing is downloaded or uploaded.
    bool CheckOnly = false;
    // An image, .pk2 or ZIP of the operator's instead of the firmware server's newest package,
    // with the digests it must have (empty: not checked).
    std::string LocalPackage, PackageMD5, PackageSHA256;
    // Set from another thread: the session ends before it downloads or uploads; an upload that
    // has begun is never cut short.
    const std::atomic<bool>* Stop = nullptr;

    // Execute with its error handling and the closing events, on the caller's thread.
    void Run();

    // The body of the worker, public so that it can be driven on the caller's thread.
    void Execute();

  private:
    void Log(const std::string& Text);
    void LogKey(const std::string& Key, const std::string& Tail = "");
    void DoLog();
    bool Stopped();
    bool FetchPackage(TUpgradeObject& U);
    bool TakeLocalPackage(TUpgradeObject& U);
    // The line of a package step's code (0 ready, 1 not read, 2 digest, 3 not unpacked); true when ready.
    bool PackageReady(int Code, const char* Unread, const char* Other);
    void CheckVersionAfter(TUpgradeObject& U);

    std::shared_ptr<TUpgradeObject> FUpgrade;
    std::string FMD5;
    std::string FNoList;
    std::string FLogText;
    std::string FLastKey;
    TSessionReport FReport;
    // The camera ran the offered version already and the operator said yes.
    bool FReinstall = false;
};
