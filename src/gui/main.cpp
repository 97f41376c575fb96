// ipcam-upgrade: the desktop tool.
#include "FormTranslator.h"
#include "GuiPlatform.h"
#include "MainWindow.h"
#include "SingleInstance.h"
#include "app/OptionFile.h"
#include "platform/Platform.h"

#include <QApplication>

#include <QIcon>

#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs("The desktop tool of ipcam-upgrade: finds IP cameras on the LAN and upgrades their "
                       "firmware.\n"
                       "Usage: ipcam-upgrade [OPTIONS]\n\n"
                       "Options:\n"
                       "  -h,--help                   Print this help message and exit\n"
                       "  --version                   Print the version and exit\n"
                       "  Qt's own options (-platform NAME, -style NAME, ...) are taken as well.\n\n"
                       "Environment: IPCAM_FIRMWARE_SERVER (firmware server base URL or folder), "
                       "IPCAM_TIME_SCALE (factor for every wait), IPCAM_BROADCAST_ADDR (where discovery "
                       "datagrams go).\n",
                       stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::puts("ipcam-upgrade " IPCAM_VERSION);
            return 0;
        }
    }
    // Before any window: the socket layer. The window's start-up makes the rest.
    try {
        platform::StartSockets();
    } catch (const std::exception&) {
        return 1;
    }
    QApplication app(argc, argv);
    // The installed icon and desktop entry name the window to the desktop.
    QApplication::setWindowIcon(QIcon::fromTheme("ipcam-upgrade"));
    QGuiApplication::setDesktopFileName("ipcam-upgrade");
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    gui::InstallPlatformHooks();
    lang::InstallFontSubstitutions();
    SetRaiseRunningInstanceHook([](const std::string& caption) { gui::RaiseRunningInstance(caption); });
    int rc = 0;
    {
        TfrmUpgradeSoft window;
        if (window.Created()) {
            window.show();
            rc = app.exec();
        }
    }
    gui::RemovePlatformHooks();
    platform::StopSockets();
    return rc;
}
