// What every window test needs: a sandbox with the device-control library, the main window it
// opens, its controls by name, its log, and a wait that keeps the windows served.
#pragma once

#include "gui/MainWindow.h"
#include "lang/Lang.h"
#include "transport/DeviceControlLibrary.h"

#include "support/Sandbox.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

class TGuiSandbox : public TSandbox {
  protected:
    void SetUp() override {
        TSandbox::SetUp();
        CreateZoltSeries();
    }
    void TearDown() override {
        Window.reset();
        ReleaseZoltSeries();
        TSandbox::TearDown();
    }
    TfrmUpgradeSoft& Open() {
        Window = std::make_unique<TfrmUpgradeSoft>();
        Window->show();
        return *Window;
    }
    template <class T> T* Find(const char* name) { return Window->findChild<T*>(name); }
    // The language picked in the window's list, as the operator picks it.
    void Choose(const std::string& code) {
        auto* lan = Find<QComboBox>("cmbLan");
        for (int i = 0; i < lan->count() && CurLang() != code; ++i) {
            lan->setCurrentIndex(i);
            Window->cmbLanChange();
        }
        ASSERT_EQ(CurLang(), code);
        QTest::qWait(100);
    }
    QStringList Log() { return Find<QPlainTextEdit>("Memo1")->toPlainText().split('\n', Qt::SkipEmptyParts); }
    static bool Wait(const std::function<bool()>& done, int ms = 30000) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QTest::qWait(10);
        return done();
    }
    std::unique_ptr<TfrmUpgradeSoft> Window;
};

} // namespace testsupport
