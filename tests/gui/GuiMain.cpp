// The GUI tests start here: real windows on the offscreen platform, nothing leaves the machine,
// and waits run fast.
#include "gui/GuiPlatform.h"
#include "gui/FormTranslator.h"
#include "platform/Platform.h"
#include "transport/DeviceControlLibrary.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
        unsetenv(v);
    setenv("IPCAM_BROADCAST_ADDR", "127.255.255.255", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    unsetenv("IPCAM_FIRMWARE_SERVER");
    if (!std::getenv("IPCAM_TIME_SCALE")) platform::SetTimeScale(0.01);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    platform::StartSockets();
    gui::InstallPlatformHooks(false);
    lang::InstallFontSubstitutions();
    int rc = RUN_ALL_TESTS();
    gui::RemovePlatformHooks();
    return rc;
}
