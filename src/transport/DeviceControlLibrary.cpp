#include "DeviceControlLibrary.h"

#include "platform/Broadcast.h"
#include "platform/DatagramReceiver.h"
#include "platform/Fd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "CameraGet.h"
#include "HttpClient.h"
#include "MultipartUpload.h"
#include "platform/Platform.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace {

std::mutex& ZoltLock() {
    static std::mutex m;
    return m;
}
std::shared_ptr<IZoltSeries>& ZoltSlot() {
    static std::shared_ptr<IZoltSeries> slot;
    return slot;
}

const char* const kParamCgis[7] = {"/get_params.cgi",        "/get_camera_params.cgi", "/get_status.cgi",
                                   "/get_factory_param.cgi", "/get_misc.cgi",          "/get_record.cgi",
                                   "/get_factory_extra.cgi"};

// Splits "http://host[:port]/path?query" into its parts; false for anything else.
bool SplitHttpUrl(const std::string& url, std::string& host, int& port, std::string& target) {
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    size_t slash = url.find('/', scheme.size());
    std::string authority =
        url.substr(scheme.size(), slash == std::string::npos ? std::string::npos : slash - scheme.size());
    target = slash == std::string::npos ? "/" : url.substr(slash);
    size_t colon = authority.rfind(':');
    port = 80;
    host = authority;
    if (colon != std::string::npos) {
        host = authority.substr(0, colon);
        std::string p = authority.substr(colon + 1);
        if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
        port = std::stoi(p);
    }
    return !host.empty() && port > 0 && port <= 65535;
}

struct TBusyCursor {
    TBusyCursor() { platform::SetBusyCursor(true); }
    ~TBusyCursor() { platform::SetBusyCursor(false); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

} // namespace

std::shared_ptr<IZoltSeries> ZoltSeries() {
    std::lock_guard g(ZoltLock());
    return ZoltSlot();
}

void CreateZoltSeries() {
    auto fresh = std::make_shared<TTZoltSeries>();
    std::lock_guard g(ZoltLock());
    ZoltSlot() = std::move(fresh);
}

void ReleaseZoltSeries() {
    std::shared_ptr<IZoltSeries> gone;
    std::lock_guard g(ZoltLock());
    gone.swap(ZoltSlot());
}

std::string TTZoltSeries::CgiValue(const std::string& Text, const std::string& Name) {
    size_t p = Text.find(Name);
    if (p == std::string::npos) return {};
    size_t s = Text.find(';', p);
    if (s == std::string::npos) return {};
    size_t start = p + Name.size() + 1;
    std::string v = start < s ? Text.substr(start, s - start) : std::string();
    std::string out;
    for (char c : v)
        if (c != '\'' && c != '"') out += c;
    return out;
}

std::string TTZoltSeries::DefaultBaseURL() const {
    return "http://" + HostWithPort(FAddress, FAddressPort);
}

bool TTZoltSeries::RefreshParams() {
    std::string base = DefaultBaseURL();
    std::string query =
        "?loginuse=" + http::PercentEncode(FAccount) + "&loginpas=" + http::PercentEncode(FPass);
    std::string texts[7];
    std::atomic<bool> busy{true};
    FBusy = true;
    try {
        std::thread reader([&] {
            for (int i = 0; i < 7; ++i)
                if (!http::GetText(base + kParamCgis[i] + query, texts[i], CgiTimeout, "", "",
                                   http::CameraPageLimit))
                    texts[i].clear();
            busy = false;
        });
        while (busy)
            platform::Sleep(BusyPoll);
        reader.join();
    } catch (const std::system_error&) {
        FBusy = false;
        return false;
    }
    FBusy = false;
    for (int i = 0; i < 7; ++i)
        FTexts[i] = texts[i];
    TStringList parts;
    TTools::SplitText(CgiValue(FTexts[StatusIndex], "sys_ver"), ".", parts);
    for (int i = 0; i < 4; ++i)
        FVersionParts[i].clear();
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i < 3)
            FVersionParts[i] = parts[i];
        else
            FVersionParts[3] += (i > 3 ? "." : "") + parts[i];
    }
    return true;
}

void TTZoltSeries::Connect(const std::string& Address, int Port, const std::string& Account,
                           const std::string& Password) {
    FAddress = Address;
    FAddressPort = Port;
    FAccount = Account;
    FPass = Password;
    if (!RefreshParams()) throw EZoltError("创建摄像机对象错误!");
}

bool TTZoltSeries::CheckLogin() {
    std::string body;
    std::string url = DefaultBaseURL() + "/get_params.cgi?user=" + http::PercentEncode(FAccount) +
                      "&pwd=" + http::PercentEncode(FPass);
    return http::GetText(url, body, LoginTimeout, "", "", http::CameraPageLimit) &&
           body.find("Auth Failed") == std::string::npos;
}

std::string TTZoltSeries::GetParamValue(const std::string& Name) {
    static const int order[7] = {0, 2, 1, 3, 4, 5, 6};
    std::string key = " " + Name + "=";
    for (int i : order)
        if (FTexts[i].find(key) != std::string::npos) return CgiValue(FTexts[i], key);
    return {};
}

bool TTZoltSeries::Upgrade(const std::string& Cgi, const std::string& BaseURL, const std::string& User,
                           const std::string& Password, const std::string& FileName) {
    std::string v = CgiValue(FTexts[StatusIndex], "sys_ver");
    std::string base;
    // An ordinal comparison, as the cameras' own tools make it: 48.2.0.99 is not below 48.2.0.121.
    if (v.compare(0, 5, "48.2.") == 0 && v >= "48.2.0.121")
        base = "http://" + FAddress + ":8600";
    else if (!BaseURL.empty())
        base = BaseURL;
    else
        base = DefaultBaseURL();
    std::string url =
        base + Cgi + "?loginuse=" + http::PercentEncode(User) + "&loginpas=" + http::PercentEncode(Password);
    return UploadImage(url, User, Password, FileName);
}

bool TTZoltSeries::UpgradeSystemFirmware(const std::string& BaseURL, const std::string& User,
                                         const std::string& Password, const std::string& FileName) {
    return Upgrade("/upgrade_firmware.cgi", BaseURL, User, Password, FileName);
}

bool TTZoltSeries::UpgradeUIFirmware(const std::string& BaseURL, const std::string& User,
                                     const std::string& Password, const std::string& FileName) {
    return Upgrade("/upgrade_htmls.cgi", BaseURL, User, Password, FileName);
}

bool TTZoltSeries::UploadImage(const std::string& URL, const std::string&, const std::string&,
                               const std::string& FileName) {
    TBusyCursor cursor;
    std::string host, target;
    int port = 0;
    TMultipartBody body(FileName, FileName, "application/x-zip-compressed");
    if (!SplitHttpUrl(URL, host, port, target)) return false;
    std::string hostLine = HostWithPort(host, port);
    // The account travels in the query alone: no Authorization line.
    return PostMultipart(host, port, target, UploadHeaders(body, hostLine, true), body, UploadTimeout,
                         UploadTimeout)
        .Accepted;
}

// ---- the port-8600 search ----
// Request: 0x44 0x48 0x01 0x01. Reply, little-endian, texts ending at a zero byte or their field:
//   0 0x44 0x48 0x01 0x08  4 IPv4 (16)  20 mask (16)  36 gateway (16)  52 DNS (16)  68 DNS2 (16)
//   84 MAC (6)  90 HTTP port (2)  92 device id (32)  124 name (80)  204 version (16)
//   236 account (32)  268 password (32)  301 address mode  302 discard mark  324 DDNS host (64)
//   388 second DDNS text (64)  452 DDNS account (32)  484 DDNS password (32)
namespace zreply {
constexpr size_t Ip = 4, Mask = 20, Gateway = 36, Dns1 = 52, Dns2 = 68, Mac = 84, HttpPort = 90,
                 DeviceId = 92, Name = 124, Version = 204, User = 236, Password = 268, Mode = 301,
                 Discard = 302, DdnsHost = 324, DdnsExtra = 388, DdnsUser = 452, DdnsPassword = 484;
} // namespace zreply

namespace {

uint8_t ByteAt(std::string_view d, size_t i) {
    return i < d.size() ? static_cast<uint8_t>(d[i]) : 0;
}

std::string FieldText(std::string_view d, size_t offset, size_t size) {
    std::string out;
    for (size_t i = offset; i < offset + size && i < d.size() && d[i] != '\0'; ++i)
        out += d[i];
    return out;
}

// The version's third part: up to and including the first ".", then the next, are dropped, and
// everything from the next "." on; a step without its "." changes nothing.
bool VersionNumber(std::string v, long& n) {
    for (int i = 0; i < 2; ++i)
        if (size_t dot = v.find('.'); dot != std::string::npos) v.erase(0, dot + 1);
    if (size_t dot = v.find('.'); dot != std::string::npos) v.resize(dot);
    char* end = nullptr;
    errno = 0;
    n = v.empty() ? 0 : std::strtol(v.c_str(), &end, 10);
    // Each part is a 32-bit integer, as the camera's own reader takes it; more does not fit.
    return !v.empty() && end && *end == '\0' && errno != ERANGE && n != -1 && n >= INT32_MIN &&
           n <= INT32_MAX;
}

} // namespace

std::string ZoltSearchRequest() {
    return std::string("\x44\x48\x01\x01", 4);
}

bool ParseZoltReply(std::string_view d, TDevInfo& r) {
    if (d.size() < 4 || d.substr(0, 4) != std::string_view("\x44\x48\x01\x08", 4)) return false;
    if (ByteAt(d, zreply::Discard) == 1) return false;
    r.Clear();
    long n = 0;
    r.Version = FieldText(d, zreply::Version, 16);
    if (!VersionNumber(r.Version, n)) return false;
    r.DevType = n < 10 ? 9 : n < 60 ? 11 : 10;
    static constexpr char hex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < 6; ++i) {
        uint8_t b = ByteAt(d, zreply::Mac + i);
        if (i) r.MAC += ':';
        r.MAC += hex[b >> 4];
        r.MAC += hex[b & 15];
    }
    r.MACHex = NormalizeMac(r.MAC);
    r.IP = FieldText(d, zreply::Ip, 16);
    r.Mask = FieldText(d, zreply::Mask, 16);
    r.Gateway = FieldText(d, zreply::Gateway, 16);
    r.DNS1 = FieldText(d, zreply::Dns1, 16);
    r.DNS2 = FieldText(d, zreply::Dns2, 16);
    r.HttpPort = static_cast<uint16_t>(ByteAt(d, zreply::HttpPort) | ByteAt(d, zreply::HttpPort + 1) << 8);
    r.DeviceID = FieldText(d, zreply::DeviceId, 32);
    r.DevName = FieldText(d, zreply::Name, 80);
    r.ReplyUser = FieldText(d, zreply::User, 32);
    r.ReplyPassword = FieldText(d, zreply::Password, 32);
    r.DHCP = ByteAt(d, zreply::Mode) == 1 ? 1 : 2;
    r.DdnsHost = FieldText(d, zreply::DdnsHost, 64);
    r.DdnsExtra = FieldText(d, zreply::DdnsExtra, 64);
    r.DdnsUser = FieldText(d, zreply::DdnsUser, 32);
    r.DdnsPassword = FieldText(d, zreply::DdnsPassword, 32);
    return true;
}

struct TTZoltSeries::TRecvThread {
    // The socket is drained into a queue of its own and the answers go to the main thread in
    // batches: a slow hand-over never leaves the kernel to drop the answers of a large site.
    platform::TDatagramReceiver Receiver;
    TOnDeviceFound OnFound;
    std::atomic<bool> Stop{false};

    bool Start(platform::TFd socket) {
        platform::TDatagramReceiver::TLimits limits;
        limits.IdleWaitMs = platform::Scaled(IdleWait);
        limits.MaxIdleWaits = MaxIdleWaits;
        limits.LifeMs = platform::Scaled(ReceiverLife);
        limits.MaxDatagrams = MaxReplies;
        return Receiver.Start(
            std::move(socket),
            [this](std::vector<platform::TDatagram>& batch) {
                std::vector<TDevInfo> found;
                for (const platform::TDatagram& d : batch) {
                    TDevInfo record;
                    if (!ParseZoltReply(d.Data, record)) continue;
                    record.Source = d.FromIP;
                    found.push_back(std::move(record));
                }
                if (found.empty() || !OnFound) return;
                platform::Synchronize(
                    [&] {
                        for (const TDevInfo& r : found) {
                            if (Stop) return;
                            OnFound(&r);
                        }
                    },
                    &Stop);
            },
            limits);
    }
};

TTZoltSeries::TTZoltSeries() = default;

TTZoltSeries::~TTZoltSeries() {
    StopSearches();
}

void TTZoltSeries::StopSearches() {
    std::vector<std::unique_ptr<TRecvThread>> receivers;
    {
        std::lock_guard g(FReceiversLock);
        receivers.swap(FReceivers);
    }
    for (auto& r : receivers) {
        r->Stop = true;
        r->Receiver.RequestStop();
    }
    for (auto& r : receivers)
        r->Receiver.Join();
}

bool TTZoltSeries::SearchDevices(int Port, const std::string& LocalAddress, TOnDeviceFound OnFound) {
    {
        // Receivers that ended are joined here, so that none is ever left behind.
        std::lock_guard g(FReceiversLock);
        for (auto it = FReceivers.begin(); it != FReceivers.end();) {
            if ((*it)->Receiver.Done()) {
                (*it)->Receiver.Join(); // closes its socket: port 3565 is free again
                it = FReceivers.erase(it);
            } else {
                ++it;
            }
        }
    }
    platform::TFd s(platform::OpenSocket(SOCK_DGRAM, false, true));
    if (!s.Valid()) return false;
    // Before the request goes out: the answers of a large site come in one burst.
    platform::AskReceiveBuffer(s.Get(), platform::TDatagramReceiver::ReceiveBuffer);
    in_addr local{};
    std::string bindTo = inet_pton(AF_INET, LocalAddress.c_str(), &local) == 1 ? LocalAddress : "";
    if (!platform::BindIPv4(s.Get(), bindTo, SearchPort)) return false;
    // The receiver reads before the request goes out: a large site answers in one burst, more
    // than a desktop's receive buffer holds while a reader is still starting.
    auto r = std::make_unique<TRecvThread>();
    r->OnFound = std::move(OnFound);
    std::lock_guard g(FReceiversLock);
    if (!r->Start(std::move(s))) return false;
    std::string request = ZoltSearchRequest();
    for (const std::string& to : platform::BroadcastTargets()) {
        sockaddr_in dest{};
        dest.sin_family = AF_INET;
        dest.sin_port = htons(static_cast<uint16_t>(Port));
        if (Port < 1 || Port > 65535 || inet_pton(AF_INET, to.c_str(), &dest.sin_addr) != 1) continue;
        sendto(r->Receiver.Fd(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&dest),
               sizeof dest);
    }
    FReceivers.push_back(std::move(r));
    return true;
}
