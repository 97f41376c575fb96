// The device-control library of the T and C series: the cameras' CGI interface and the image
// upload. One reference-counted object, held by ZoltSeries from start-up until the search
// dialog lets it go.
#pragma once

#include "base/DevInfo.h"

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class EZoltError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Called with each camera the search found; the record is valid during the call only.
using TOnDeviceFound = std::function<void(const TDevInfo* Record)>;

// The answer of a camera to the port-8600 search as a record; false for anything else (another
// datagram, the discard mark, a version that gives no number).
bool ParseZoltReply(std::string_view datagram, TDevInfo& record);
std::string ZoltSearchRequest();

class IZoltSeries {
  public:
    virtual ~IZoltSeries() = default;
    virtual bool RefreshParams() = 0;
    // Broadcasts the search request to Port from local port 3565 and returns; a receiver hands
    // each answer to OnFound on the main thread (platform::Synchronize).
    virtual bool SearchDevices(int Port, const std::string& LocalAddress, TOnDeviceFound OnFound) = 0;
    // Stops every search receiver and waits for it; no OnFound runs or starts afterwards. Never
    // call it from inside an OnFound or another hand-over to the main thread.
    virtual void StopSearches() = 0;
    // Throws EZoltError ("创建摄像机对象错误!") when the parameters cannot be read.
    virtual void Connect(const std::string& Address, int Port, const std::string& Account,
                         const std::string& Password) = 0;
    virtual bool CheckLogin() = 0;
    virtual bool UpgradeSystemFirmware(const std::string& BaseURL, const std::string& User,
                                       const std::string& Password, const std::string& FileName) = 0;
    virtual bool UpgradeUIFirmware(const std::string& BaseURL, const std::string& User,
                                   const std::string& Password, const std::string& FileName) = 0;
    virtual std::string GetParamValue(const std::string& Name) = 0;
};

class TTZoltSeries : public IZoltSeries {
  public:
    static constexpr int64_t CgiTimeout = 20000;
    static constexpr int64_t LoginTimeout = 5000;
    static constexpr int64_t UploadTimeout = 60000;
    static constexpr int64_t BusyPoll = 200;

    static constexpr int SearchPort = 3565;
    static constexpr int64_t IdleWait = 30;
    static constexpr int MaxIdleWaits = 100;
    static constexpr int64_t ReceiverLife = 10000; // a receiver's whole life, however busy
    static constexpr int MaxReplies = 1024;        // datagrams one receiver handles

    TTZoltSeries();
    ~TTZoltSeries() override;
    TTZoltSeries(const TTZoltSeries&) = delete;
    TTZoltSeries& operator=(const TTZoltSeries&) = delete;

    bool RefreshParams() override;
    bool SearchDevices(int Port, const std::string& LocalAddress, TOnDeviceFound OnFound) override;
    // Stops every receiver and waits for it; no OnFound runs or starts afterwards.
    void StopSearches() override;
    void Connect(const std::string& Address, int Port, const std::string& Account,
                 const std::string& Password) override;
    bool CheckLogin() override;
    bool UpgradeSystemFirmware(const std::string& BaseURL, const std::string& User,
                               const std::string& Password, const std::string& FileName) override;
    bool UpgradeUIFirmware(const std::string& BaseURL, const std::string& User, const std::string& Password,
                           const std::string& FileName) override;
    std::string GetParamValue(const std::string& Name) override;

    // The value of Name in a CGI answer ("name=value;"), quotes removed; empty when not found.
    static std::string CgiValue(const std::string& Text, const std::string& Name);
    std::string DefaultBaseURL() const;
    bool UploadImage(const std::string& URL, const std::string& User, const std::string& Password,
                     const std::string& FileName);

    // For tests: the status text the uploads consult.
    void SetStatusText(const std::string& text) { FTexts[StatusIndex] = text; }

  private:
    bool Upgrade(const std::string& Cgi, const std::string& BaseURL, const std::string& User,
                 const std::string& Password, const std::string& FileName);

    static constexpr int StatusIndex = 2;
    std::string FAddress;
    int FAddressPort = 0;
    std::string FAccount;
    std::string FPass;
    // get_params, get_camera_params, get_status, get_factory_param, get_misc, get_record, get_factory_extra
    std::string FTexts[7];
    bool FBusy = false;
    std::string FVersionParts[4];
    struct TRecvThread;
    std::mutex FReceiversLock;
    std::vector<std::unique_ptr<TRecvThread>> FReceivers;
};

// The process-wide reference. CreateZoltSeries replaces whatever it held.
std::shared_ptr<IZoltSeries> ZoltSeries();
void CreateZoltSeries();
void ReleaseZoltSeries();
