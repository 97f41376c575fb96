// Every test binary starts here: nothing may leave the machine, and waits run fast.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
        unsetenv(v);
    setenv("IPCAM_BROADCAST_ADDR", "127.255.255.255", 0);
    unsetenv("IPCAM_FIRMWARE_SERVER");
    if (!std::getenv("IPCAM_TIME_SCALE")) platform::SetTimeScale(0.01);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
