#include "SimOnvif.h"

#include "SimImage.h"
#include "SimOptions.h"
#include "SimZip.h"
#include "lang/IniFile.h"
#include "transport/CameraGet.h"
#include "upgrade/PackageFiles.h"

#include "base/Text.h"
#include "platform/Platform.h"
#include "transport/OnvifSoap.h"
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

namespace sim {

namespace {

constexpr int64_t kSkewLimitSec = 30; // how far a UsernameToken's time may be from the camera's clock
constexpr size_t kRecentNonces = 256;
constexpr uint64_t kMaxLegacyBody = 256ull << 20;
constexpr const char* kRealm = "ipcam-sim";

std::string Envelope(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<env:Envelope "
           "xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\" "
           "xmlns:ter=\"http://www.onvif.org/ver10/error\"><env:Body>" +
           body + "</env:Body></env:Envelope>";
}

std::string Fault(const std::string& code, const std::string& subcode, const std::string& reason) {
    return Envelope("<env:Fault><env:Code><env:Value>env:" + code +
                    "</env:Value><env:Subcode><env:Value>ter:" + subcode +
                    "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" +
                    onvif::XmlEscape(reason) + "</env:Text></env:Reason></env:Fault>");
}

std::string SoapResponse(int status, const std::string& xml) {
    return HttpResponse(status, xml, "Content-Type: application/soap+xml; charset=utf-8\r\n");
}

std::string Md5Hex(const std::string& s) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(s.data(), s.size(), md, &n, EVP_md5(), nullptr);
    return HexText(md, n);
}

std::string Base64Decoded(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0 || text.size() > 1024) return {};
    std::string out(text.size() / 4 * 3, '\0');
    int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return {};
    size_t pad = text.size() >= 2 && text.substr(text.size() - 2) == "==" ? 2 : text.back() == '=' ? 1 : 0;
    out.resize(static_cast<size_t>(n) - pad);
    return out;
}

// The seconds since the epoch of an xs:dateTime in UTC; -1 for anything else.
int64_t UtcSeconds(const std::string& text) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    if (!end) return -1;
    if (*end == '.')
        for (++end; *end >= '0' && *end <= '9'; ++end) {
        }
    if (std::string(end) != "Z") return -1;
    return static_cast<int64_t>(timegm(&tm));
}

// The value of one item of an HTTP digest Authorization line.
std::string DigestItem(const std::string& line, const std::string& key) {
    for (size_t at = line.find(key + "="); at != std::string::npos; at = line.find(key + "=", at + 1)) {
        if (at > 0 && line[at - 1] != ' ' && line[at - 1] != ',') continue;
        size_t v = at + key.size() + 1;
        if (v < line.size() && line[v] == '"') {
            size_t close = line.find('"', v + 1);
            return close == std::string::npos ? std::string() : line.substr(v + 1, close - v - 1);
        }
        size_t end = line.find(',', v);
        return line.substr(v, end == std::string::npos ? std::string::npos : end - v);
    }
    return {};
}

std::string RandomHex(size_t n) {
    std::string b(n, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(b.data()), static_cast<int>(n));
    return HexText(reinterpret_cast<const unsigned char*>(b.data()), n);
}

std::string Duration(int64_t ms) {
    return "PT" + std::to_string(ms / 1000) +
           (ms % 1000 ? "." + std::to_string(1000 + ms % 1000).substr(1) : "") + "S";
}

} // namespace

bool IsOnvifSetting(const std::string& setting) {
    size_t at = setting.find("series=");
    if (at == std::string::npos || (at > 0 && setting[at - 1] != ',')) return false;
    std::string v = setting.substr(at + 7, setting.find(',', at) - at - 7);
    return v == "onvif" || v == "ONVIF" || v == "O";
}

bool ParseOnvifSetting(const std::string& setting, const std::string& address, TOnvifConfig& c,
                       std::string& error) {
    c.Address = address;
    for (const auto& [item, k, v] : SettingItems(setting)) {
        try {
            if (k == "series") {
                if (v != "onvif" && v != "ONVIF" && v != "O") throw std::invalid_argument("series");
            } else if (k == "address")
                c.Address = v;
            else if (k == "port")
                c.Port = std::stoi(v);
            else if (k == "user")
                c.User = v;
            else if (k == "password")
                c.Password = v;
            else if (k == "manufacturer")
                c.Manufacturer = v;
            else if (k == "model")
                c.Model = v;
            else if (k == "mac")
                c.Mac = v;
            else if (k == "version" || k == "sys")
                c.Version = v;
            else if (k == "reboot-ms")
                c.RebootMs = std::stoll(v);
            else if (k == "delay-ms")
                c.UploadDelayMs = std::stoll(v);
            else if (k == "auth" && (v == "digest" || v == "token"))
                c.HttpDigest = v == "digest";
            else if (k == "fault") {
                if (v == "no-upgrade")
                    c.Faults.NoUpgrade = true;
                else if (v == "legacy-only")
                    c.Faults.LegacyOnly = true;
                else if (v == "wrong-password")
                    c.Faults.WrongPassword = true;
                else if (v == "upload-refused")
                    c.Faults.UploadRefused = true;
                else if (v == "reboot-forever")
                    c.Faults.RebootForever = true;
                else if (v == "reboot-old-version")
                    c.Faults.RebootOldVersion = true;
                else if (v == "slow-clock")
                    c.Faults.ClockBehindSec = 3600;
                else
                    throw std::invalid_argument("fault");
            } else
                throw std::invalid_argument("key");
        } catch (const std::exception&) {
            error = "bad camera setting \"" + item + "\"";
            return false;
        }
    }
    return true;
}

void BuildOnvifFirmware(const std::string& root, const std::vector<TOnvifConfig>& cameras,
                        uint64_t imageSize) {
    std::string dir = (root.back() == '/' ? root : root + "/") + "onvif/";
    for (const TOnvifConfig& cam : cameras) {
        if (!TTools::ForceDir(dir)) throw std::runtime_error("cannot create " + dir);
        std::string version = NextVersion(cam.Version);
        std::string name = "onvif-" + cam.Model + "-" + version;
        WriteImageFile(dir + name + ".bin", TKind::System, version, imageSize);
        WriteZipFromFile(dir + name + ".zip", name + ".bin", dir + name + ".bin");
        unlink((dir + name + ".bin").c_str());
        TIniFile list(dir + "firmware.txt");
        std::string section = cam.Manufacturer + "/" + cam.Model;
        bool ok = list.WriteString(section, "SysVer", version) &&
                  list.WriteString(section, "MD5", TUpgradeOpt::FileMD5(dir + name + ".zip")) &&
                  list.WriteString(section, "SHA256", TUpgradeOpt::FileSHA256(dir + name + ".zip")) &&
                  list.WriteString(section, "NO", "") && list.WriteString(section, "SysFile", name + ".zip");
        if (!ok) throw std::runtime_error("cannot write " + dir + "firmware.txt");
    }
}

TOnvifCamera::TOnvifCamera(TOnvifConfig config, TRequestLog log)
    : FConfig(std::move(config)), FLog(std::move(log)), FVersion(FConfig.Version),
      FDigestNonce(RandomHex(16)), FServer(LoopbackOnly(FConfig.Address), FConfig.Port) {
    if (FConfig.Mac.empty()) {
        // As the other cameras of the process: 02 53, the letter O, then its number.
        static std::atomic<uint32_t> cameras{0};
        uint32_t n = ++cameras;
        char mac[18];
        std::snprintf(mac, sizeof mac, "02:53:4f:%02x:%02x:%02x", (n >> 16) & 0xFF, (n >> 8) & 0xFF,
                      n & 0xFF);
        FConfig.Mac = mac;
    }
    FServer.OnHttp([this](const THttpRequest& r, TConnection& c) { Handle(r, c); });
}

TOnvifCamera::~TOnvifCamera() {
    FStop = true;
    FServer.Stop();
    std::lock_guard g(FRebootLock);
    if (FRebootThread.joinable()) FRebootThread.join();
}

std::string TOnvifCamera::Version() const {
    std::lock_guard g(FLock);
    return FVersion;
}

std::string TOnvifCamera::Describe() const {
    return "camera ONVIF " + FConfig.Address + ":" + std::to_string(Port()) + " user=" + FConfig.User +
           " password=" + FConfig.Password + " sys=" + Version() + " manufacturer=" + FConfig.Manufacturer +
           " model=" + FConfig.Model + (FConfig.HttpDigest ? " auth=digest" : "");
}

void TOnvifCamera::Log(const std::string& line) const {
    if (FLog) FLog("onvif " + FConfig.Address + ":" + std::to_string(Port()) + ": " + line);
}

void TOnvifCamera::Handle(const THttpRequest& r, TConnection& c) {
    if (r.Method == "POST" && r.Path == ServicePath) {
        if (r.Header("Content-Type").rfind("multipart/related", 0) == 0)
            Legacy(r, c);
        else
            Service(r, c);
        return;
    }
    if (r.Method == "POST" && r.Path.rfind("/onvif/firmware-upload/", 0) == 0) {
        TakeUpload(r, c);
        return;
    }
    c.Send(HttpResponse(404, "not found"));
}

std::string TOnvifCamera::CheckAuth(const THttpRequest& r, const std::string& body) {
    auto refuse = [this](const std::string& why) {
        ++FRefusals;
        Log("refused: " + why);
        return SoapResponse(400, Fault("Sender", "NotAuthorized", "Sender not authorized"));
    };
    if (FConfig.HttpDigest) {
        std::string line = r.Header("Authorization");
        std::string challenge = "WWW-Authenticate: Digest realm=\"" + std::string(kRealm) +
                                "\", qop=\"auth\", nonce=\"" + FDigestNonce + "\", algorithm=MD5\r\n";
        if (line.rfind("Digest ", 0) != 0) return HttpResponse(401, "", challenge);
        std::string user = DigestItem(line, "username"), uri = DigestItem(line, "uri"),
                    nonce = DigestItem(line, "nonce"), nc = DigestItem(line, "nc"),
                    cnonce = DigestItem(line, "cnonce"), qop = DigestItem(line, "qop"),
                    response = DigestItem(line, "response");
        std::string ha1 = Md5Hex(user + ":" + kRealm + ":" + FConfig.Password);
        std::string ha2 = Md5Hex(r.Method + ":" + uri);
        std::string want = qop.empty()
                               ? Md5Hex(ha1 + ":" + nonce + ":" + ha2)
                               : Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
        if (user != FConfig.User || nonce != FDigestNonce || uri != r.Target || response != want ||
            FConfig.Faults.WrongPassword) {
            ++FRefusals;
            Log("refused: HTTP digest");
            return HttpResponse(401, "", challenge);
        }
        return {};
    }
    onvif::TSoapRequest q = onvif::ParseRequest(body);
    if (q.Username.empty()) return refuse("no UsernameToken");
    if (q.PasswordType.find("#PasswordDigest") == std::string::npos) return refuse("no password digest");
    std::string nonce = Base64Decoded(q.Nonce);
    if (nonce.empty()) return refuse("no nonce");
    if (q.Username != FConfig.User || FConfig.Faults.WrongPassword ||
        q.Password != onvif::PasswordDigest(nonce, q.Created, FConfig.Password))
        return refuse("wrong user or password");
    int64_t created = UtcSeconds(q.Created);
    int64_t clock = static_cast<int64_t>(std::time(nullptr)) - FConfig.Faults.ClockBehindSec;
    if (created < 0 || std::llabs(created - clock) > kSkewLimitSec)
        return refuse("created time off the clock");
    std::lock_guard g(FLock);
    for (const std::string& n : FNonces)
        if (n == nonce) return refuse("nonce used before");
    FNonces.push_back(nonce);
    if (FNonces.size() > kRecentNonces) FNonces.pop_front();
    return {};
}

std::string TOnvifCamera::Answer(const std::string& op) {
    const TOnvifFaults& f = FConfig.Faults;
    if (op == "GetSystemDateAndTime") {
        std::time_t now = std::time(nullptr) - static_cast<std::time_t>(f.ClockBehindSec);
        std::tm tm{};
        gmtime_r(&now, &tm);
        auto n = [](int v) { return std::to_string(v); };
        return Envelope(
            "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>NTP</"
            "tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>UTC0</"
            "tt:TZ></tt:TimeZone><tt:UTCDateTime><tt:Time><tt:Hour>" +
            n(tm.tm_hour) + "</tt:Hour><tt:Minute>" + n(tm.tm_min) + "</tt:Minute><tt:Second>" +
            n(tm.tm_sec) + "</tt:Second></tt:Time><tt:Date><tt:Year>" + n(tm.tm_year + 1900) +
            "</tt:Year><tt:Month>" + n(tm.tm_mon + 1) + "</tt:Month><tt:Day>" + n(tm.tm_mday) +
            "</tt:Day></tt:Date></tt:UTCDateTime></tds:SystemDateAndTime></"
            "tds:GetSystemDateAndTimeResponse>");
    }
    if (op == "GetDeviceInformation")
        return Envelope(
            "<tds:GetDeviceInformationResponse><tds:Manufacturer>" + onvif::XmlEscape(FConfig.Manufacturer) +
            "</tds:Manufacturer><tds:Model>" + onvif::XmlEscape(FConfig.Model) +
            "</tds:Model><tds:FirmwareVersion>" + onvif::XmlEscape(Version()) +
            "</tds:FirmwareVersion><tds:SerialNumber>" + onvif::XmlEscape(FConfig.Serial) +
            "</tds:SerialNumber><tds:HardwareId>SIM-1</tds:HardwareId></tds:GetDeviceInformationResponse>");
    if (op == "GetNetworkInterfaces")
        return Envelope(
            "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"eth0\"><tt:Enabled>true"
            "</tt:Enabled><tt:Info><tt:Name>eth0</tt:Name><tt:HwAddress>" +
            onvif::XmlEscape(FConfig.Mac) +
            "</tt:HwAddress><tt:MTU>1500</tt:MTU></tt:Info></tds:NetworkInterfaces>"
            "</tds:GetNetworkInterfacesResponse>");
    if (op == "GetCapabilities") {
        std::string xaddr = "http://" + FConfig.Address + ":" + std::to_string(Port()) + ServicePath;
        return Envelope(
            "<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>" + xaddr +
            "</tt:XAddr><tt:System><tt:DiscoveryResolve>false</tt:DiscoveryResolve>"
            "<tt:DiscoveryBye>true</tt:DiscoveryBye><tt:RemoteDiscovery>false</tt:RemoteDiscovery>"
            "<tt:SystemBackup>false</tt:SystemBackup><tt:SystemLogging>false</tt:SystemLogging>"
            "<tt:FirmwareUpgrade>" +
            std::string(f.NoUpgrade ? "false" : "true") +
            "</tt:FirmwareUpgrade><tt:SupportedVersions><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor>"
            "</tt:SupportedVersions><tt:Extension><tt:HttpFirmwareUpgrade>" +
            std::string(f.NoUpgrade || f.LegacyOnly ? "false" : "true") +
            "</tt:HttpFirmwareUpgrade></tt:Extension></tt:System></tt:Device></tds:Capabilities>"
            "</tds:GetCapabilitiesResponse>");
    }
    if (op == "GetServices") {
        std::string xaddr = "http://" + FConfig.Address + ":" + std::to_string(Port()) + ServicePath;
        return Envelope(
            "<tds:GetServicesResponse><tds:Service><tds:Namespace>http://www.onvif.org/ver10/device/"
            "wsdl</tds:Namespace><tds:XAddr>" +
            xaddr +
            "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor></tds:Version>"
            "</tds:Service></tds:GetServicesResponse>");
    }
    if (op == "StartFirmwareUpgrade" && !f.NoUpgrade && !f.LegacyOnly) {
        std::string token = RandomHex(8);
        {
            std::lock_guard g(FLock);
            FUploadToken = token;
        }
        return Envelope("<tds:StartFirmwareUpgradeResponse><tds:UploadUri>http://" + FConfig.Address + ":" +
                        std::to_string(Port()) + "/onvif/firmware-upload/" + token +
                        "</tds:UploadUri><tds:UploadDelay>" + Duration(FConfig.UploadDelayMs) +
                        "</tds:UploadDelay><tds:ExpectedDownTime>" + Duration(FConfig.RebootMs) +
                        "</tds:ExpectedDownTime></tds:StartFirmwareUpgradeResponse>");
    }
    return {};
}

void TOnvifCamera::Service(const THttpRequest& r, TConnection& c) {
    int64_t length = r.ContentLength();
    std::string body;
    if (length < 0 || length > static_cast<int64_t>(onvif::MaxAnswer) ||
        !c.ReadExactly(body, static_cast<size_t>(length), 30000)) {
        c.Send(HttpResponse(400, "bad request"));
        return;
    }
    onvif::TSoapRequest q = onvif::ParseRequest(body);
    if (!q.Parsed) {
        // HTTP digest is judged before the body: a client's first, empty try gets the challenge.
        std::string refusal = FConfig.HttpDigest ? CheckAuth(r, body) : std::string();
        c.Send(!refusal.empty() ? refusal
                                : SoapResponse(400, Fault("Sender", "WellFormed", "not a SOAP message")));
        return;
    }
    Log(q.Operation);
    if (q.Operation != "GetSystemDateAndTime") {
        std::string refusal = CheckAuth(r, body);
        if (!refusal.empty()) {
            c.Send(refusal);
            return;
        }
    }
    std::string answer = Answer(q.Operation);
    if (answer.empty()) {
        Log("not supported: " + q.Operation);
        c.Send(SoapResponse(400, Fault("Receiver", "ActionNotSupported", "Optional Action Not Implemented")));
        return;
    }
    c.Send(SoapResponse(200, answer));
}

void TOnvifCamera::TakeUpload(const THttpRequest& r, TConnection& c) {
    std::string token = r.Path.substr(std::string("/onvif/firmware-upload/").size());
    bool known;
    {
        std::lock_guard g(FLock);
        known = !FUploadToken.empty() && token == FUploadToken;
        if (known) FUploadToken.clear(); // one upload per StartFirmwareUpgrade
    }
    int64_t length = r.ContentLength();
    if (!known || length <= 0) {
        Log("upload refused: unknown address or no length");
        c.Send(HttpResponse(404, "no upload expected here"));
        return;
    }
    if (r.Header("Content-Type") != "application/octet-stream") {
        c.Send(HttpResponse(415, "the image goes as application/octet-stream"));
        return;
    }
    if (FConfig.Faults.UploadRefused) {
        Log("fault: refusing the upload");
        c.Send(HttpResponse(403, "upgrade refused"));
        return;
    }
    static thread_local char buf[1 << 18];
    std::string head;
    int64_t got = 0;
    while (got < length) {
        size_t n = c.Read(buf, static_cast<size_t>(std::min<int64_t>(sizeof buf, length - got)), 30000);
        if (n == 0) {
            Log("upload broken after " + std::to_string(got) + " bytes");
            return;
        }
        if (head.size() < 256) head.append(buf, std::min<size_t>(n, 256 - head.size()));
        got += static_cast<int64_t>(n);
    }
    std::string version = ImageVersion(head);
    if (version.empty()) {
        Log("upload refused: the image names no version");
        c.Send(HttpResponse(400, "the image names no version"));
        return;
    }
    Log("upload of " + std::to_string(got) + " bytes accepted: " + version + ", rebooting");
    ++FUpgrades;
    FServer.Pause();
    c.Send(HttpResponse(200, ""));
    c.Close();
    Reboot(version);
}

void TOnvifCamera::Legacy(const THttpRequest& r, TConnection& c) {
    std::string type = r.Header("Content-Type");
    std::string boundary =
        DigestItem(type.substr(type.find(';') == std::string::npos ? 0 : type.find(';') + 1), "boundary");
    int64_t length = r.ContentLength();
    std::string body;
    if (boundary.empty() || length < 0 || static_cast<uint64_t>(length) > kMaxLegacyBody ||
        !c.ReadExactly(body, static_cast<size_t>(length), 30000)) {
        c.Send(HttpResponse(400, "bad request"));
        return;
    }
    // The first part is the envelope, the part its xop:Include names is the image.
    std::string delim = "--" + boundary;
    auto part = [&](size_t from, std::string& headers, std::string& content) {
        size_t start = body.find(delim, from);
        if (start == std::string::npos) return std::string::npos;
        size_t headEnd = body.find("\r\n\r\n", start);
        size_t next = headEnd == std::string::npos ? std::string::npos : body.find("\r\n" + delim, headEnd);
        if (next == std::string::npos) return std::string::npos;
        headers = body.substr(start, headEnd - start);
        content = body.substr(headEnd + 4, next - headEnd - 4);
        return next + 2;
    };
    std::string h1, envelope, h2, image;
    size_t after = part(0, h1, envelope);
    if (after == std::string::npos || part(after, h2, image) == std::string::npos ||
        h2.find("Content-ID: <firmware") == std::string::npos) {
        c.Send(SoapResponse(400, Fault("Sender", "InvalidArgVal", "no firmware attachment")));
        return;
    }
    onvif::TSoapRequest q = onvif::ParseRequest(envelope);
    Log("MTOM " + q.Operation);
    std::string refusal = CheckAuth(r, envelope);
    if (!refusal.empty()) {
        c.Send(refusal);
        return;
    }
    if (q.Operation != "UpgradeSystemFirmware" || FConfig.Faults.NoUpgrade) {
        c.Send(SoapResponse(400, Fault("Receiver", "ActionNotSupported", "Optional Action Not Implemented")));
        return;
    }
    std::string version = ImageVersion(image.substr(0, 256));
    if (version.empty()) {
        c.Send(SoapResponse(400, Fault("Sender", "InvalidFirmware", "the image names no version")));
        return;
    }
    Log("MTOM upload of " + std::to_string(image.size()) + " bytes accepted: " + version + ", rebooting");
    ++FUpgrades;
    FServer.Pause();
    c.Send(SoapResponse(200, Envelope("<tds:UpgradeSystemFirmwareResponse><tds:Message>Upgrading, rebooting"
                                      "</tds:Message></tds:UpgradeSystemFirmwareResponse>")));
    c.Close();
    Reboot(version);
}

void TOnvifCamera::Reboot(const std::string& version) {
    std::lock_guard g(FRebootLock);
    if (FStop) return;
    if (FRebootThread.joinable()) FRebootThread.join();
    FRebootThread = std::thread([this, version] {
        auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(platform::Scaled(FConfig.RebootMs));
        while (!FStop && (FConfig.Faults.RebootForever || std::chrono::steady_clock::now() < end))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (FStop) return;
        if (!FConfig.Faults.RebootOldVersion) {
            std::lock_guard l(FLock);
            FVersion = version;
        }
        FServer.Resume();
        Log("back after reboot");
    });
}

} // namespace sim
