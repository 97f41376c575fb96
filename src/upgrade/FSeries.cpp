#include "FSeries.h"

#include "lang/Lang.h"
#include "transport/CameraGet.h"
#include "transport/HttpClient.h"
#include "transport/MultipartUpload.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace fseries {

bool ReadStatusVersion(TUpgradeObject& U, const std::string& Key, std::string& Version) {
    std::string body;
    std::string url = U.CameraBase() + "/get_status.cgi";
    if (!TTools::HttpGet(url, body, TUpgradeObject::CameraTimeout, "", "")) return false;
    if (body.find(Key) == std::string::npos) return false;
    Version = StatusValue(body, Key, '\'');
    return true;
}

bool ReadImageHead(const std::string& Path, unsigned char Head[4]) {
    // The image is opened as itself: a link in its place is never uploaded.
    platform::TFd fd(open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) throw std::runtime_error("Cannot open file \"" + Path + "\". " + std::strerror(errno));
    size_t got = 0;
    while (got < 4) {
        ssize_t r = platform::ReadSome(fd.Get(), Head + got, 4 - got);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got == 4;
}

bool Upload(TUpgradeObject& U, const std::string& Cgi, const unsigned char* Signature, std::string& Message) {
    // The account travels in the query; encoded, so that a blank, "&" or "#" cannot change it.
    std::string target = Cgi + "?user=" + http::PercentEncode(TrimText(U.GetUser())) +
                         "&pwd=" + http::PercentEncode(TrimText(U.GetPassword())) + "&next_url=reboot.htm";
    std::string host = HostWithPort(U.GetIP(), U.GetPort());
    unsigned char head[4];
    if (!ReadImageHead(U.GetImagePath(), head) || std::memcmp(head, Signature, 4) != 0) {
        Message = GetLangStr("IDS_UPGRADEFILEERR");
        return false;
    }
    TMultipartBody body(U.GetImagePath(), U.GetImagePath(), "application/octet-stream");
    TUploadResult r = PostMultipart(U.GetIP(), U.GetPort(), target, UploadHeaders(body, host, false), body,
                                    UploadTimeout, UploadTimeout);
    return Outcome(r, Message);
}

bool Outcome(const TUploadResult& Result, std::string& Message) {
    Message = Result.Accepted ? GetLangStr("IDS_UPGRADESUCC")
                              : GetLangStr("IDS_UPGRADEFAIL") + EscapeControls(Result.Error);
    return Result.Accepted;
}

} // namespace fseries

bool TFSYSUpgrade::ReadCurrentVersion() {
    return fseries::ReadStatusVersion(*this, "sys_ver", FCurVersion);
}

bool TFSYSUpgrade::DoUpgrade(std::string& Message) {
    return fseries::Upload(*this, "/upgrade_firmware.cgi", fseries::SystemSignature, Message);
}

bool TFUIUpgrade::ReadCurrentVersion() {
    return fseries::ReadStatusVersion(*this, "app_ver", FCurVersion);
}

bool TFUIUpgrade::DoUpgrade(std::string& Message) {
    return fseries::Upload(*this, "/upgrade_htmls.cgi", fseries::UISignature, Message);
}
