// A standard camera as any maker's would answer WS-Discovery: a ProbeMatch for a network video
// transmitter, sent back to the probe's source. Bound to loopback only.
#pragma once

#include "SimHttpServer.h"

#include <atomic>
#include <string>
#include <thread>

namespace sim {

class TWsdCamera {
  public:
    TWsdCamera(std::string address, int httpPort, std::string name, std::string uuid);
    ~TWsdCamera();
    TWsdCamera(const TWsdCamera&) = delete;
    TWsdCamera& operator=(const TWsdCamera&) = delete;
    std::string Describe() const;
    int Answers() const { return FAnswers.load(); }

  private:
    void Run();
    std::string FAddress, FName, FUuid;
    int FPort;
    std::atomic<bool> FStop{false};
    std::atomic<int> FAnswers{0};
    TWake FWake;
    std::thread FThread;
};

// The ProbeMatches message of such a camera.
std::string ProbeMatches(const std::string& relatesTo, const std::string& uuid, const std::string& name,
                         const std::string& address, int httpPort);

} // namespace sim
