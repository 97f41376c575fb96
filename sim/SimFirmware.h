// The firmware server: serves a folder tree below "/FM/", and builds the demo tree whose lists
// and packages match the simulated cameras.
#pragma once

#include "SimCamera.h"
#include "SimHttpServer.h"

#include <string>
#include <vector>

namespace sim {

class TFirmwareServer {
  public:
    // Serves Root (a folder) at http://address:port/FM/. Loopback addresses only.
    TFirmwareServer(std::string root, const std::string& address, int port, TRequestLog log = nullptr);
    std::string BaseURL() const;
    int Port() const { return FServer.Port(); }
    int Requests() const { return FRequests.load(); }
    void Stop() { FServer.Stop(); }

  private:
    void Handle(const THttpRequest& r, TConnection& c);
    std::string FRoot;
    TRequestLog FLog;
    std::atomic<int> FRequests{0};
    THttpServer FServer;
};

// The firmware.txt section a camera's objects will look up, by the series' version rules.
std::string SectionFor(const TCameraConfig& camera, TKind kind);
std::string ServerFolderFor(const TCameraConfig& camera, TKind kind);

// For every camera: a system and a UI package (ZIP, image inside named as the package) with the
// next version, and the entries of the firmware lists of their folders. Writes below root.
void BuildFirmwareTree(const std::string& root, const std::vector<TCameraConfig>& cameras,
                       uint64_t imageSize = 64 * 1024);

} // namespace sim
