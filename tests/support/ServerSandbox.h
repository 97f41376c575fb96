// A sandbox whose firmware server is a test HTTP server on loopback.
#pragma once

#include "Sandbox.h"
#include "TestHttpServer.h"

#include <cstdlib>

namespace testsupport {

class TServerSandbox : public TSandbox {
  protected:
    void SetUp() override {
        TSandbox::SetUp();
        setenv("IPCAM_FIRMWARE_SERVER", Srv.Url("/FM/").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("IPCAM_FIRMWARE_SERVER");
        TSandbox::TearDown();
    }
    TTestHttpServer Srv;
};

} // namespace testsupport
