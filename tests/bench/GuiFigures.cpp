// Figures of the desktop tool: the time from start to the first shown main window, and the cost
// of one log line with 100 000 lines appended. Run under the offscreen platform or Xvfb.
#include "gui/MainWindow.h"
#include "gui/GuiPlatform.h"
#include "gui/FormTranslator.h"
#include "transport/DeviceControlLibrary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    auto start = std::chrono::steady_clock::now();
    // The window's search starts at once: its datagrams stay on this machine.
    setenv("IPCAM_BROADCAST_ADDR", "127.255.255.255", 0);
    CreateZoltSeries();
    platform::StartSockets();
    QApplication app(argc, argv);
    gui::InstallPlatformHooks();
    lang::InstallFontSubstitutions();
    {
        TfrmUpgradeSoft window;
        window.show();
        if (!QTest::qWaitForWindowExposed(&window, 5000)) std::cerr << "the window was not exposed\n";
        auto shown = std::chrono::steady_clock::now();
        std::cout << "start to first shown window: "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(shown - start).count() << " ms ("
                  << QGuiApplication::platformName().toStdString() << ")\n";
        const int lines = 100000;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < lines; ++i) {
            window.AddLog("The version of present device rom is :48.2.0." + std::to_string(i));
            if (i % 1000 == 0) QCoreApplication::processEvents(); // the window stays served meanwhile
        }
        QCoreApplication::processEvents();
        double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        std::cout << lines << " log lines: " << ms << " ms, " << ms / lines * 1000 << " us a line\n";
    }
    gui::RemovePlatformHooks();
    ReleaseZoltSeries();
    return 0;
}
