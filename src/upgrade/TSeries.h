// The T series, and what it shares with the C series: CGI pages and the device-control library upload.
#pragma once

#include "UpgradeObject.h"

#include <string>

// What the T and C series share: CGI pages with the account in the query, the upload through
// the device-control library. The two differ only in the port the upload goes to.
namespace zseries {
std::string Query(TUpgradeObject& U);
int Login(TUpgradeObject& U, std::string& DeviceID, std::string& OEMName);
bool ReadUIVersion(TUpgradeObject& U, std::string& Model, std::string& Version);
bool ReadSysVersion(TUpgradeObject& U, std::string& Model, std::string& Version);
bool Upload(TUpgradeObject& U, bool System, const std::string& BaseURL, std::string& Message);
} // namespace zseries

template <class TBase, bool System, bool Port8600> class TZoltUpgradeObject : public TBase {
  public:
    TZoltUpgradeObject() { this->FModelKeyLen = 0; }
    const std::string& GetDeviceID() const { return FDeviceID; }
    int Login() override { return zseries::Login(*this, FDeviceID, this->FOEMName); }
    bool ReadCurrentVersion() override {
        return System ? zseries::ReadSysVersion(*this, this->FModel, this->FCurVersion)
                      : zseries::ReadUIVersion(*this, this->FModel, this->FCurVersion);
    }
    bool DoUpgrade(std::string& Message) override {
        std::string base = "http://" + this->FIP + ":" + std::to_string(Port8600 ? 8600 : this->FPort);
        return zseries::Upload(*this, System, base, Message);
    }

  protected:
    std::string FDeviceID;
};

class TTSYSUpgrade : public TZoltUpgradeObject<TSysUpgradeObject, true, true> {};
class TTUIUpgrade : public TZoltUpgradeObject<TUIUpgradeObject, false, true> {};
