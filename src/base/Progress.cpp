#include "Progress.h"

namespace progress {

namespace {
thread_local TSink tSink;
thread_local TStage tStage = TStage::Download;
thread_local int64_t tLast = -2;
} // namespace

TScope::TScope(TSink sink) : FPrevious(std::move(tSink)) {
    tSink = std::move(sink);
    tLast = -2;
}

TScope::~TScope() {
    tSink = std::move(FPrevious);
}

void Report(TStage stage, int64_t done, int64_t total) {
    if (!tSink) return;
    int64_t step = total > 0 ? done * 1000 / total : -1;
    if (stage == tStage && step == tLast && done != total) return;
    tStage = stage;
    tLast = step;
    tSink(stage, done, total);
}

} // namespace progress
