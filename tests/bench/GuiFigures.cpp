// Figures of the desktop tool: the time from start to the first shown main window, and the cost
// of one log line with 100 000 lines appended. Run under the offscreen platform or Xvfb.
#include "gui/FormTranslator.h"
#include "gui/GuiPlatform.h"
#include "gui/MainWindow.h"
#include "gui/SearchDialog.h"
#include "transport/DeviceControlLibrary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

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

        // A large site's answers as the receivers hand them over: batches of ten rows.
        TfrmAdv_Main* dialog = window.SearchDialog();
        dialog->findChild<QTimer*>("Timer1")->stop();
        dialog->show();
        const int cameras = 1000;
        t.restart();
        for (int i = 0; i < cameras; ++i) {
            TDevInfo d;
            d.DevType = 2;
            d.MAC = "02:53:46:00:" + std::to_string(i / 256) + ":" + std::to_string(i % 256);
            d.IP = "127.77." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
            d.HttpPort = 80;
            d.DevName = "camera " + std::to_string(i);
            dialog->Engine().OnFound(d);
            if (i % 10 == 9) QCoreApplication::processEvents(); // the receivers hand over in batches
        }
        QCoreApplication::processEvents();
        ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        std::cout << cameras << " cameras into the search dialog: " << ms << " ms\n";
        dialog->hide();
    }
    gui::RemovePlatformHooks();
    ReleaseZoltSeries();
    return 0;
}
