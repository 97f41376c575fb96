#include "TSeries.h"

#include "lang/Lang.h"
#include "transport/HttpClient.h"
#include "transport/DeviceControlLibrary.h"
#include "transport/CameraGet.h"
#include "FSeries.h"

namespace zseries {

namespace {
bool Get(TUpgradeObject& U, const std::string& path, std::string& body) {
    return TTools::HttpGet(U.CameraBase() + path + Query(U), body, TUpgradeObject::CameraTimeout, "", "");
}
} // namespace

std::string Query(TUpgradeObject& U) {
    return "?user=" + http::PercentEncode(TrimText(U.GetUser())) +
           "&pwd=" + http::PercentEncode(TrimText(U.GetPassword()));
}

int Login(TUpgradeObject& U, std::string& DeviceID, std::string& OEMName) {
    std::string body;
    if (!IsCameraAddress(U.GetIP())) return 2;
    if (!Get(U, "/get_status.cgi", body) || body.empty()) return 2;
    if (body.find("Auth Failed") != std::string::npos) return 1;
    size_t at = body.find("deviceid=");
    if (at != std::string::npos) {
        size_t start = at + 9, end = body.find(';', start);
        DeviceID = body.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    std::string oem;
    if (Get(U, "/oem.txt", oem) && !oem.empty()) {
        OEMName = oem;
        return 0;
    }
    OEMName.clear();
    return 2;
}

bool ReadUIVersion(TUpgradeObject& U, std::string& Model, std::string& Version) {
    Version.clear();
    std::string body;
    if (!Get(U, "/appver.js", body)) return false;
    Model = body.find("app_model") != std::string::npos ? StatusValue(body, "app_model", '"') : "";
    if (body.find("app_ver") == std::string::npos) return false;
    Version = StatusValue(body, "app_ver", '"');
    return true;
}

bool ReadSysVersion(TUpgradeObject& U, std::string& Model, std::string& Version) {
    Version.clear();
    std::string body;
    if (Get(U, "/appver.js", body))
        Model = body.find("app_model") != std::string::npos ? StatusValue(body, "app_model", '"') : "";
    if (!Get(U, "/get_status.cgi", body) || body.find("sys_ver") == std::string::npos) return false;
    Version = StatusValue(body, "sys_ver", '"');
    return true;
}

bool Upload(TUpgradeObject& U, bool System, const std::string& BaseURL, std::string& Message) {
    std::shared_ptr<IZoltSeries> library = ZoltSeries();
    bool ok = false;
    if (library) {
        std::string image = TrimText(U.GetImagePath());
        ok = System ? library->UpgradeSystemFirmware(BaseURL, U.GetUser(), U.GetPassword(), image)
                    : library->UpgradeUIFirmware(BaseURL, U.GetUser(), U.GetPassword(), image);
    }
    Message = GetLangStr(ok ? "IDS_UPGRADESUCC" : "IDS_UPGRADEFAIL");
    return ok;
}

} // namespace zseries
