// Progress of the long steps of a session (download, upload, CTP records, the reboot wait), for
// the progress bars of the window and the terminal. The session's thread installs its sink; the
// steps report to whatever sink their thread has, so the designed signatures stay as they are.
#pragma once

#include <cstdint>
#include <functional>

namespace progress {

enum class TStage { Download, Upload, Records, Reboot };
// total < 0: unknown (an indeterminate bar). Called on the reporting thread.
using TSink = std::function<void(TStage stage, int64_t done, int64_t total)>;

// Installs sink for this thread while it lives.
class TScope {
  public:
    explicit TScope(TSink sink);
    ~TScope();
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

  private:
    TSink FPrevious;
};

// Reports to this thread's sink, at most once per thousandth of the total (and at the end).
void Report(TStage stage, int64_t done, int64_t total);

} // namespace progress
