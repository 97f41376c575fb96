// The demo set: one camera of every series the simulator knows, a firmware tree that matches
// them, and the firmware server, all on loopback.
#pragma once

#include "SimCamera.h"
#include "SimFirmware.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

// The cameras of the demo, with ports left to the system unless basePort is given.
std::vector<TCameraConfig> DemoCameras(const std::string& address, int basePort);

// n cameras of the demo's series in turn, each on a port of its own; the T cameras, which take
// uploads on a fixed port, and the E cameras, which the search tells apart by address, each on
// a loopback address of its own.
std::vector<TCameraConfig> ManyCameras(const std::string& address, int n);

class TSimulation {
  public:
    // Builds the firmware tree below root (when buildTree) and starts the servers.
    TSimulation(const std::string& root, std::vector<TCameraConfig> cameras, const std::string& address,
                int firmwarePort, bool buildTree, TRequestLog log = nullptr, uint64_t imageSize = 64 * 1024);
    ~TSimulation();
    TFirmwareServer& Firmware() { return *FFirmware; }
    std::vector<std::unique_ptr<TSimCamera>>& Cameras() { return FCameras; }
    TSimCamera* Find(TSeries series);

  private:
    std::unique_ptr<TFirmwareServer> FFirmware;
    std::vector<std::unique_ptr<TSimCamera>> FCameras;
};

} // namespace sim
