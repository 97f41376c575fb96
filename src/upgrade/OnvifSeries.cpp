#include "OnvifSeries.h"

#include "base/Files.h"
#include "base/Text.h"
#include "lang/Lang.h"
#include "platform/Platform.h"
#include "transport/CameraGet.h"

#include <openssl/rand.h>

#include <algorithm>
#include <vector>

namespace {

// The numbers of a dotted version ("48.2.0.10"); false when any part is no plain number.
bool DottedNumbers(const std::string& v, std::vector<unsigned long>& out) {
    if (v.empty()) return false;
    size_t start = 0;
    for (;;) {
        size_t dot = v.find('.', start);
        std::string part = v.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out.push_back(std::stoul(part));
        if (dot == std::string::npos) return true;
        start = dot + 1;
    }
}

bool IsTrue(const std::string& v) {
    return v == "true" || v == "1";
}

// A text of the camera's, fit for one log line.
std::string Shown(const std::string& text) {
    return EscapeControls(ValidUtf8(text));
}

std::string FailureText(const onvif::TCallResult& r) {
    if (!r.Reached) return r.Error;
    if (r.Answer.Fault)
        return Shown(r.Answer.FaultCode + (r.Answer.FaultReason.empty() ? "" : ": " + r.Answer.FaultReason));
    return "HTTP " + std::to_string(r.Status);
}

std::string RandomHex(size_t bytes) {
    std::vector<unsigned char> b(bytes);
    if (RAND_bytes(b.data(), static_cast<int>(b.size())) != 1) throw std::runtime_error("no random bytes");
    return HexText(b.data(), b.size());
}

} // namespace

int CompareVersions(const std::string& A, const std::string& B) {
    std::string a = TrimText(A), b = TrimText(B);
    std::vector<unsigned long> x, y;
    if (!DottedNumbers(a, x) || !DottedNumbers(b, y)) return a == b ? 0 : 2;
    for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        unsigned long p = i < x.size() ? x[i] : 0, q = i < y.size() ? y[i] : 0;
        if (p != q) return p < q ? -1 : 1;
    }
    return 0;
}

TOnvifUpgrade::TOnvifUpgrade() {
    FPort = 80;
}

std::string TOnvifUpgrade::ServiceURL() const {
    return FServiceURL.empty() ? CameraBase() + "/onvif/device_service" : FServiceURL;
}

std::string TOnvifUpgrade::GetSectionName() {
    if (TrimText(FManufacturer).empty() || TrimText(FModel).empty()) return {};
    return TrimText(FManufacturer) + "/" + TrimText(FModel);
}

onvif::TCallResult TOnvifUpgrade::Request(const std::string& Action, const std::string& Body, bool Signed,
                                          int64_t timeoutMs) {
    auto envelope = [&] {
        return Signed ? onvif::Envelope(Body, FTypedUser, FTypedPassword,
                                        std::chrono::system_clock::now() +
                                            std::chrono::milliseconds(FClockOffsetMs))
                      : onvif::Envelope(Body);
    };
    return onvif::Call(ServiceURL(), std::string(onvif::DeviceNs) + "/" + Action, envelope,
                       Signed ? FTypedUser : "", Signed ? FTypedPassword : "", timeoutMs);
}

std::string TOnvifUpgrade::InterfaceMac(int64_t timeoutMs) {
    onvif::TCallResult r = Request("GetNetworkInterfaces", "<tds:GetNetworkInterfaces/>", true, timeoutMs);
    if (!r.Reached || r.Status < 200 || r.Status > 299 || !r.Answer.Parsed || r.Answer.Fault) return {};
    return r.Answer.Value("HwAddress");
}

int TOnvifUpgrade::Login() {
    if (!IsCameraAddress(FIP)) return 2;
    // The camera's clock first: every signed request carries a time the camera must accept.
    onvif::TCallResult t = Request("GetSystemDateAndTime", "<tds:GetSystemDateAndTime/>", false);
    if (!t.Reached) return 2;
    std::chrono::system_clock::time_point camera;
    if (onvif::CameraUtcTime(t.Answer, camera))
        FClockOffsetMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(camera - std::chrono::system_clock::now())
                .count();
    return ReadDeviceInformation();
}

int TOnvifUpgrade::ReadDeviceInformation() {
    onvif::TCallResult r = Request("GetDeviceInformation", "<tds:GetDeviceInformation/>", true);
    if (!r.Reached) return 2;
    if (onvif::IsNotAuthorized(r)) return 1;
    const onvif::TSoapAnswer& a = r.Answer;
    if (!a.Parsed || a.Fault || r.Status < 200 || r.Status > 299 || !a.Values.count("FirmwareVersion"))
        return 2;
    FCurVersion = a.Value("FirmwareVersion");
    FManufacturer = a.Value("Manufacturer");
    FModel = a.Value("Model");
    FSerial = a.Value("SerialNumber");
    return 0;
}

bool TOnvifUpgrade::ReadCurrentVersion() {
    FCurVersion.clear();
    return ReadDeviceInformation() == 0;
}

bool TOnvifUpgrade::IsSameVersion(const std::string& Version) {
    return CompareVersions(Version, FCurVersion) == 0;
}

bool TOnvifUpgrade::Refused(const onvif::TCallResult& R, std::string& Message) {
    if (!onvif::IsNotAuthorized(R)) return false;
    Message = GetLangStr("IDS_PASSWORDERROR");
    return true;
}

bool TOnvifUpgrade::DoUpgrade(std::string& Message) {
    std::string image = TrimText(FImagePath);
    if (!IsPlainFile(image)) {
        Message = GetLangStr("IDS_UPGRADEFILEERR");
        return false;
    }
    onvif::TCallResult caps =
        Request("GetCapabilities",
                "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>", true);
    if (Refused(caps, Message)) return false;
    if (!caps.Reached) {
        Message = GetLangStr("IDS_UPGRADEFAIL") + Shown(caps.Error);
        return false;
    }
    // A device that lists its system capabilities says which upgrade it takes; one that does not
    // is asked for the newer one first.
    const onvif::TSoapAnswer& c = caps.Answer;
    bool known = c.Parsed && !c.Fault && c.Values.count("System");
    bool viaUri = IsTrue(c.Value("HttpFirmwareUpgrade"));
    bool legacy = IsTrue(c.Value("FirmwareUpgrade"));
    if (known && !viaUri && !legacy) {
        Message = GetLangStr("IDS_NOONVIFUPGRADE");
        return false;
    }
    if (!known || viaUri) {
        onvif::TCallResult start = Request("StartFirmwareUpgrade", "<tds:StartFirmwareUpgrade/>", true);
        if (Refused(start, Message)) return false;
        if (start.Answer.Parsed && !start.Answer.Fault && start.Status >= 200 && start.Status <= 299 &&
            !start.Answer.Value("UploadUri").empty())
            return UploadToUri(start, Message);
        if (!onvif::IsNotSupported(start)) {
            Message = GetLangStr("IDS_UPGRADEFAIL") + FailureText(start);
            return false;
        }
        if (known && !legacy) {
            Message = GetLangStr("IDS_NOONVIFUPGRADE");
            return false;
        }
    }
    return UploadLegacy(Message);
}

bool TOnvifUpgrade::UploadToUri(const onvif::TCallResult& Start, std::string& Message) {
    const onvif::TSoapAnswer& a = Start.Answer;
    std::string uri = a.Value("UploadUri");
    // The image goes to the camera itself, never to a host the camera names.
    std::string host = onvif::UrlHost(uri);
    if (host.empty() || host != onvif::UrlHost(ServiceURL())) {
        Message = GetLangStr("IDS_UPGRADEFAIL") + "the upload address is not the camera's: " + Shown(uri);
        return false;
    }
    int64_t delay = onvif::ParseDuration(a.Value("UploadDelay"));
    int64_t down = onvif::ParseDuration(a.Value("ExpectedDownTime"));
    FExpectedDownMs = std::clamp<int64_t>(down, 0, MaxDownTime);
    if (delay > 0) platform::Sleep(std::min(delay, MaxUploadDelay));
    onvif::TPostResult r =
        onvif::PostFile(uri, "application/octet-stream", TrimText(FImagePath), "", "", FTypedUser,
                        FTypedPassword, UploadConnectTimeout, UploadReadTimeout);
    if (r.Reached && r.Status >= 200 && r.Status <= 299) {
        Message = GetLangStr("IDS_UPGRADESUCC");
        return true;
    }
    if (r.Reached && r.Status == 401) {
        Message = GetLangStr("IDS_PASSWORDERROR");
        return false;
    }
    Message =
        GetLangStr("IDS_UPGRADEFAIL") + (r.Reached ? "HTTP " + std::to_string(r.Status) : Shown(r.Error));
    return false;
}

bool TOnvifUpgrade::UploadLegacy(std::string& Message) {
    // MTOM: the envelope as the first part, the image as the attachment it includes.
    std::string boundary = "ipcam-" + RandomHex(12);
    std::string envelope = onvif::Envelope(
        "<tds:UpgradeSystemFirmware><tds:Firmware xmlns:xmime=\"http://www.w3.org/2005/05/xmlmime\" "
        "xmime:contentType=\"application/octet-stream\"><xop:Include "
        "xmlns:xop=\"http://www.w3.org/2004/08/xop/include\" href=\"cid:firmware@ipcam-upgrade\"/>"
        "</tds:Firmware></tds:UpgradeSystemFirmware>",
        FTypedUser, FTypedPassword,
        std::chrono::system_clock::now() + std::chrono::milliseconds(FClockOffsetMs));
    std::string action = std::string(onvif::DeviceNs) + "/UpgradeSystemFirmware";
    std::string head =
        "--" + boundary +
        "\r\nContent-Type: application/xop+xml; charset=UTF-8; type=\"application/soap+xml\"\r\n"
        "Content-Transfer-Encoding: 8bit\r\nContent-ID: <envelope@ipcam-upgrade>\r\n\r\n" +
        envelope + "\r\n--" + boundary +
        "\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n"
        "Content-ID: <firmware@ipcam-upgrade>\r\n\r\n";
    std::string tail = "\r\n--" + boundary + "--\r\n";
    std::string type = "multipart/related; type=\"application/xop+xml\"; start=\"<envelope@ipcam-upgrade>\"; "
                       "start-info=\"application/soap+xml\"; action=\"" +
                       action + "\"; boundary=\"" + boundary + "\"";
    onvif::TPostResult r = onvif::PostFile(ServiceURL(), type, TrimText(FImagePath), head, tail, FTypedUser,
                                           FTypedPassword, UploadConnectTimeout, LegacyReadTimeout);
    onvif::TCallResult answer;
    answer.Reached = r.Reached;
    answer.Status = r.Status;
    answer.Error = r.Error;
    answer.Answer = onvif::ParseAnswer(r.Body);
    if (Refused(answer, Message)) return false;
    if (onvif::IsNotSupported(answer)) {
        Message = GetLangStr("IDS_NOONVIFUPGRADE");
        return false;
    }
    if (r.Reached && r.Status >= 200 && r.Status <= 299 && answer.Answer.Parsed && !answer.Answer.Fault) {
        Message = GetLangStr("IDS_UPGRADESUCC");
        return true;
    }
    Message = GetLangStr("IDS_UPGRADEFAIL") + FailureText(answer);
    return false;
}
