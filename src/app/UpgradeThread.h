// One upgrade of one firmware kind on one camera, from the login to the check after the reboot,
// on a worker thread of its own. Every outcome is one log line.
#pragma once

#include "base/Progress.h"
#include "upgrade/uIUpgrade.h"

#include <functional>
#include <memory>
#include <string>

// The log's time stamp, the same in the window and on the command line: the locale's short
// date, a blank, its long time and ":".
std::string LogTimeStamp();

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

    // The body of the worker, public so that it can be driven on the caller's thread.
    void Execute();

  private:
    void Log(const std::string& Text);
    void LogKey(const std::string& Key, const std::string& Tail = "");
    void DoLog();

    std::shared_ptr<TUpgradeObject> FUpgrade;
    std::string FMD5;
    std::string FNoList;
    std::string FLogText;
    std::string FLastKey;
};
