#include "GuiPlatform.h"

#include "platform/Platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace gui {

namespace {

// One hand-over: the UI thread runs it unless the caller gave up before it started.
struct THandOver {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Started = false, Done = false, Abandoned = false;
};

bool OnUiThread() {
    return QThread::currentThread() == qApp->thread();
}

void RunOnUi(const std::function<void()>& fn, const std::atomic<bool>* abandon) {
    // Already on the UI thread: at once, never queued to itself.
    if (!qApp || OnUiThread()) {
        fn();
        return;
    }
    auto h = std::make_shared<THandOver>();
    QMetaObject::invokeMethod(
        qApp,
        [h, &fn] {
            {
                std::lock_guard g(h->Lock);
                if (h->Abandoned) return;
                h->Started = true;
            }
            fn();
            std::lock_guard g(h->Lock);
            h->Done = true;
            h->Changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock l(h->Lock);
    for (;;) {
        if (h->Done) return;
        if (!h->Started && abandon && *abandon) {
            h->Abandoned = true; // the queued call will find this and do nothing
            return;
        }
        h->Changed.wait_for(l, std::chrono::milliseconds(20));
    }
}

std::mutex gBoxLock;
TBoxAnswer gBoxAnswer;

int ShowBox(const std::string& text, const std::string& caption, int flags) {
    {
        std::lock_guard g(gBoxLock);
        if (gBoxAnswer) return gBoxAnswer(text, caption, flags);
    }
    int result = platform::IDOK;
    RunOnUi(
        [&] {
            QMessageBox box(QApplication::activeWindow());
            box.setText(QString::fromStdString(text));
            box.setWindowTitle(QString::fromStdString(caption));
            int icon = flags & 0xF0;
            box.setIcon(icon == platform::MB_ICONERROR         ? QMessageBox::Critical
                        : icon == platform::MB_ICONQUESTION    ? QMessageBox::Question
                        : icon == platform::MB_ICONWARNING     ? QMessageBox::Warning
                        : icon == platform::MB_ICONINFORMATION ? QMessageBox::Information
                                                               : QMessageBox::NoIcon);
            if ((flags & 0xF) == platform::MB_YESNO) {
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                result = box.exec() == QMessageBox::Yes ? platform::IDYES : platform::IDNO;
            } else {
                box.setStandardButtons(QMessageBox::Ok);
                box.exec();
            }
        },
        nullptr);
    return result;
}

} // namespace

void SetBoxAnswer(TBoxAnswer answer) {
    std::lock_guard g(gBoxLock);
    gBoxAnswer = std::move(answer);
}

void InstallPlatformHooks(bool boxes) {
    platform::SetSynchronizeHook(&RunOnUi);
    if (boxes) platform::SetMessageBoxHook(&ShowBox);
    platform::SetBusyCursorHook([](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });
}

void RemovePlatformHooks() {
    platform::SetSynchronizeHook(nullptr);
    platform::SetMessageBoxHook(nullptr);
    platform::SetBusyCursorHook(nullptr);
}

} // namespace gui
