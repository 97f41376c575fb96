#include "SR_Zolt.h"

#include "HttpClient.h"
#include "MultipartUpload.h"
#include "Tools.h"
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
