// One simulated camera: the HTTP surface of its series, a strict check of every upload, and a
// reboot after which it comes back with the version carried in the image.
#pragma once

#include "SimHttpServer.h"
#include "SimImage.h"
#include "platform/Fd.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

struct TCameraFaults {
    int UploadStatus = 0;    // answer uploads with this status instead of taking them (302 adds Location)
    bool UploadHang = false; // take the upload, then never answer
    int64_t CloseAfterBytes = -1;  // close the connection after this many body bytes
    bool RebootForever = false;    // never come back after a reboot
    bool RebootOldVersion = false; // come back still running the version it had
    // E series (CTP/1.0)
    bool CtpLoginRefused = false; // answer the login without "200"
    int CtpRefuseMessage = -1;    // refuse this message of the upload connection (0 is the hello)
    int CtpCloseAtMessage = -1;   // close the upload connection instead of answering this message
    bool CtpContinue = false;     // an interim "Continue" before every "OK"
    // The LAN search
    bool SearchSilent = false;    // answer no search
    bool SearchTruncated = false; // answers cut to a third
    bool SearchOversized = false; // answers padded to 2000 bytes
    bool SearchMalformed = false; // answers with a damaged first byte
    bool SearchFlood = false;     // every answer 200 times
};

struct TCameraConfig {
    TSeries Series = TSeries::H;
    std::string Address = "127.0.0.1";
    int Port = 0;
    std::string User = "admin";
    std::string Password = "530274";
    std::string SysVersion = "48.2.0.10";
    std::string AppVersion = "2.4.8.6";
    std::string OEM = "OEMX";
    std::string Model;        // app_model of "/appver.js"; empty leaves the line out
    int64_t RebootMs = 20000; // scaled by the time scale
    TCameraFaults Faults;
};

using TRequestLog = std::function<void(const std::string& line)>;

class TSimCamera {
  public:
    // Throws std::runtime_error when the address is not on loopback or cannot be bound.
    TSimCamera(TCameraConfig config, TRequestLog log = nullptr);
    ~TSimCamera();
    TSimCamera(const TSimCamera&) = delete;
    TSimCamera& operator=(const TSimCamera&) = delete;

    int Port() const { return FServer.Port(); }
    // The T series takes its uploads on this fixed port of its address.
    static constexpr int TUploadPort = 8600;
    const TCameraConfig& Config() const { return FConfig; }
    std::string SysVersion() const;
    std::string AppVersion() const;
    int Upgrades() const { return FUpgrades.load(); }
    bool Rebooting() const { return FServer.Paused(); }
    // Whether the account in a "user"/"pwd" (or "loginuse"/"loginpas") query is the camera's.
    bool QueryAccountOk(const THttpRequest& r, const char* userKey, const char* passKey) const;
    // A one-line description: series, address, port, account and versions.
    std::string Describe() const;

  private:
    void Handle(const THttpRequest& r, TConnection& c);
    void HandleCtp(const std::string& firstLine, TConnection& c);
    void CtpUpload(TConnection& c);
    void SearchResponder(platform::TFd socket);
    bool Authorized(const THttpRequest& r) const;
    void Upload(const THttpRequest& r, TConnection& c, TKind kind);
    void Reboot(TKind kind, const std::string& version);
    void Log(const std::string& line) const;

    TCameraConfig FConfig;
    TRequestLog FLog;
    mutable std::mutex FLock;
    std::string FSysVersion, FAppVersion;
    std::atomic<int> FUpgrades{0};
    std::atomic<bool> FStop{false};
    std::atomic<bool> FUpgradeMode{false};
    TWake FWake; // ends the search responders' waits
    std::thread FSearchThread;
    std::thread FUnicastThread;
    std::mutex FRebootLock;
    std::thread FRebootThread;
    THttpServer FServer;
    std::unique_ptr<THttpServer> FUploadServer; // T series: port 8600
};

} // namespace sim
