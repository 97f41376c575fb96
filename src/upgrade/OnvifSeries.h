// Standard cameras of any maker, upgraded through the ONVIF device service: the version from
// GetDeviceInformation, the firmware from the "onvif" list (sections "<Manufacturer>/<Model>")
// or a file of the operator's, the image posted to the address StartFirmwareUpgrade names, or
// sent with UpgradeSystemFirmware to devices that only know that.
#pragma once

#include "UpgradeObject.h"
#include "transport/OnvifSoap.h"

#include <chrono>
#include <string>

// Dotted numbers part by part where both versions are such ("1.10" after "1.9", "2.0" equal to
// "2.0.0"); otherwise the texts, trimmed, equal or not. -1, 0 or 1; 2 for "not equal, no order".
int CompareVersions(const std::string& A, const std::string& B);

class TOnvifUpgrade : public TUpgradeObject {
  public:
    TOnvifUpgrade();

    std::string GetVersionKey() override { return "SysVer"; }
    std::string GetFileKey() override { return "SysFile"; }
    std::string GetServerFolder() override { return "onvif"; }
    std::string GetSectionName() override;
    int Login() override;
    bool ReadCurrentVersion() override;
    bool IsSameVersion(const std::string& Version) override;
    bool DoUpgrade(std::string& Message) override;
    int64_t MinRebootWait() const override { return FExpectedDownMs; }

    // The device service's address; empty means http://IP:PORT/onvif/device_service.
    void SetServiceURL(const std::string& URL) { FServiceURL = URL; }
    std::string ServiceURL() const;
    const std::string& GetManufacturer() const { return FManufacturer; }
    const std::string& GetSerial() const { return FSerial; }
    int64_t ClockOffsetMs() const { return FClockOffsetMs; }
    // The MAC of the camera's first network interface (GetNetworkInterfaces), as the camera writes
    // it, asked with the session's account; empty when the camera does not say.
    std::string InterfaceMac(int64_t timeoutMs);

    // Bounds where the camera names a time: the wait before the upload and the time it expects
    // to be down afterwards.
    static constexpr int64_t MaxUploadDelay = 60000;
    static constexpr int64_t MaxDownTime = 600000;
    static constexpr int64_t UploadConnectTimeout = 60000;
    static constexpr int64_t UploadReadTimeout = 60000;
    // UpgradeSystemFirmware answers only after the device took the image.
    static constexpr int64_t LegacyReadTimeout = 600000;

  private:
    onvif::TCallResult Request(const std::string& Action, const std::string& Body, bool Signed,
                               int64_t timeoutMs = CameraTimeout);
    // 0 read, 1 refused, 2 no answer.
    int ReadDeviceInformation();
    bool Refused(const onvif::TCallResult& R, std::string& Message);
    bool UploadToUri(const onvif::TCallResult& Start, std::string& Message);
    bool UploadLegacy(std::string& Message);

    std::string FServiceURL;
    std::string FManufacturer, FSerial;
    int64_t FClockOffsetMs = 0;
    int64_t FExpectedDownMs = 0;
};
