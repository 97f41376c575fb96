#include "HSeries.h"

#include "lang/Lang.h"
#include "transport/Base64.h"
#include "transport/MultipartUpload.h"
#include "transport/CameraGet.h"
#include "FSeries.h"

bool THSYSUpgrade::ReadCurrentVersion() {
    bool r = TSysUpgradeObject::ReadCurrentVersion();
    std::string body;
    std::string url = CameraBase() + "/get_status.cgi";
    if (!TTools::HttpGet(url, body, CameraTimeout, "", "") || body.find("sys_ver") == std::string::npos)
        return r;
    FCurVersion = StatusValue(body, "sys_ver", '"');
    return true;
}

namespace hseries {

bool Upload(TUpgradeObject& U, const std::string& Target, std::string& Message) {
    std::string host = HostWithPort(U.GetIP(), U.GetPort());
    std::string image = TrimText(U.GetImagePath());
    unsigned char head[4];
    if (!fseries::ReadImageHead(image, head)) {
        Message = GetLangStr("IDS_UPGRADEFILEERR");
        return false;
    }
    TMultipartBody body(image, image, "application/x-zip-compressed");
    std::string account = TrimText(U.GetUser()) + ":" + TrimText(U.GetPassword());
    auto headers = UploadHeaders(body, host, true);
    headers.emplace_back("Authorization", "Basic " + Base64EncodeLine(account));
    return fseries::Outcome(
        PostMultipart(U.GetIP(), U.GetPort(), Target, headers, body, ConnectTimeout, ReadTimeout), Message);
}

} // namespace hseries

bool THSYSUpgrade::DoUpgrade(std::string& Message) {
    return hseries::Upload(*this, "/cgi-bin/upgrade_firmware.cgi", Message);
}

bool THUIUpgrade::DoUpgrade(std::string& Message) {
    return hseries::Upload(*this, "/cgi-bin/upgrade_htmls.cgi?next_url=reboot.htm", Message);
}
