// A standard camera with the ONVIF device service: its clock, its device information, its
// capabilities and both ways of taking firmware (StartFirmwareUpgrade with an upload address,
// and UpgradeSystemFirmware with an MTOM attachment). It checks every UsernameToken digest and
// its time, or asks for HTTP digest instead, and can misbehave on purpose.
#pragma once

#include "SimCamera.h"
#include "SimHttpServer.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct TOnvifFaults {
    bool NoUpgrade = false;     // no firmware upgrade at all: capabilities false, the calls refused
    bool LegacyOnly = false;    // only UpgradeSystemFirmware (MTOM)
    bool WrongPassword = false; // refuses every password
    bool UploadRefused = false; // the upload address answers 403
    bool RebootForever = false; // never back after an upgrade
    bool RebootOldVersion = false;
    int64_t ClockBehindSec = 0; // a slow clock: this far behind the real time
};

struct TOnvifConfig {
    std::string Address = "127.0.0.1";
    int Port = 0;
    std::string User = "admin";
    std::string Password = "Onvif530274";
    std::string Manufacturer = "SimVision";
    std::string Model = "SV-100";
    std::string Version = "2.1.0";
    std::string Serial = "SV100-0001";
    std::string Mac;              // of its network interface; empty: one of its own
    int64_t RebootMs = 20000;     // scaled by the time scale; named as the expected down time
    int64_t UploadDelayMs = 1000; // named as the upload delay (unscaled, as a camera would)
    bool HttpDigest = false;      // asks for HTTP digest instead of reading UsernameTokens
    TOnvifFaults Faults;
};

// One --camera setting with series=onvif: address, port, user, password, manufacturer, model,
// version, mac, reboot-ms, delay-ms, auth=digest|token, fault=no-upgrade|legacy-only|wrong-password|
// upload-refused|reboot-forever|reboot-old-version|slow-clock. False with error for anything else.
bool ParseOnvifSetting(const std::string& setting, const std::string& address, TOnvifConfig& config,
                       std::string& error);
// Whether a --camera setting names the series onvif.
bool IsOnvifSetting(const std::string& setting);

// The "onvif" firmware list and packages for these cameras: one section "<Manufacturer>/<Model>"
// each, with the next version. Writes below root.
void BuildOnvifFirmware(const std::string& root, const std::vector<TOnvifConfig>& cameras,
                        uint64_t imageSize = 64 * 1024);

class TOnvifCamera {
  public:
    // Throws std::runtime_error when the address is not on loopback or cannot be bound.
    TOnvifCamera(TOnvifConfig config, TRequestLog log = nullptr);
    ~TOnvifCamera();
    TOnvifCamera(const TOnvifCamera&) = delete;
    TOnvifCamera& operator=(const TOnvifCamera&) = delete;

    int Port() const { return FServer.Port(); }
    const TOnvifConfig& Config() const { return FConfig; }
    std::string Version() const;
    int Upgrades() const { return FUpgrades.load(); }
    int Refusals() const { return FRefusals.load(); }
    std::string Describe() const;
    static constexpr const char* ServicePath = "/onvif/device_service";

  private:
    void Handle(const THttpRequest& r, TConnection& c);
    void Service(const THttpRequest& r, TConnection& c);
    void Legacy(const THttpRequest& r, TConnection& c);
    void TakeUpload(const THttpRequest& r, TConnection& c);
    // Empty when the request may go on; else the answer to send.
    std::string CheckAuth(const THttpRequest& r, const std::string& body);
    std::string Answer(const std::string& operation);
    void Reboot(const std::string& version);
    void Log(const std::string& line) const;

    TOnvifConfig FConfig;
    TRequestLog FLog;
    mutable std::mutex FLock;
    std::string FVersion;
    std::string FUploadToken;
    std::string FDigestNonce;
    std::deque<std::string> FNonces; // recent UsernameToken nonces: a repeated one is refused
    std::atomic<int> FUpgrades{0};
    std::atomic<int> FRefusals{0};
    std::atomic<bool> FStop{false};
    std::mutex FRebootLock;
    std::thread FRebootThread;
    THttpServer FServer;
};

} // namespace sim
