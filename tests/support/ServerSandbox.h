// A sandbox whose firmware server is a test HTTP server on loopback.
#pragma once

#include "Sandbox.h"
#include "TestHttpServer.h"

#include <string>

namespace testsupport {

class TServerSandbox : public TSandbox {
  protected:
    // The server's tree, as a session is given its firmware server.
    std::string ServerURL() { return Srv.Url("/FM/"); }
    TTestHttpServer Srv;
};

} // namespace testsupport
