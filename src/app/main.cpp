// ipcam-upgrade: the desktop tool.
#include "app/OptionFile.h"
#include "app/UpgradeSoft_608.h"
#include "gui/GuiPlatform.h"
#include "gui/SingleInstance.h"
#include "lang/FormTranslator.h"
#include "platform/Platform.h"
#include "transport/SR_Zolt.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv) {
    // Before any window: the device-control library object and the socket layer.
    CreateZoltSeries();
    try {
        platform::StartSockets();
    } catch (const std::exception&) {
        return 1;
    }
    QApplication app(argc, argv);
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
    ReleaseZoltSeries();
    platform::StopSockets();
    return rc;
}
