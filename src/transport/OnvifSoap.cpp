#include "OnvifSoap.h"

#include "Base64.h"
#include "HttpClient.h"
#include "base/Progress.h"
#include "platform/Fd.h"
#include "platform/Platform.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>

namespace onvif {

namespace {

struct TDocDeleter {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using TDoc = std::unique_ptr<xmlDoc, TDocDeleter>;

void InitXml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

std::string LocalName(const xmlNode* n) {
    return n->name ? reinterpret_cast<const char*>(n->name) : "";
}

// The element's own text: its text and CDATA children, trimmed and bounded. Entity references
// never count (a document with a type declaration is refused before this).
std::string OwnText(const xmlNode* n) {
    std::string out;
    for (const xmlNode* c = n->children; c; c = c->next)
        if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
            out += reinterpret_cast<const char*>(c->content);
    size_t b = out.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = out.find_last_not_of(" \t\r\n");
    return out.substr(b, std::min(e - b + 1, MaxText));
}

const xmlNode* Child(const xmlNode* n, std::string_view local) {
    for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && LocalName(c) == local) return c;
    return nullptr;
}

std::string AfterPrefix(const std::string& qname) {
    size_t colon = qname.rfind(':');
    return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

void ReadFault(const xmlNode* fault, TSoapAnswer& a) {
    a.Fault = true;
    // SOAP 1.2: Code/Value with nested Subcode/Value; the innermost names the fault best.
    if (const xmlNode* code = Child(fault, "Code")) {
        const xmlNode* at = code;
        for (int depth = 0; at && depth < 16; ++depth) {
            if (const xmlNode* v = Child(at, "Value")) a.FaultCode = AfterPrefix(OwnText(v));
            at = Child(at, "Subcode");
        }
    } else if (const xmlNode* code11 = Child(fault, "faultcode")) { // SOAP 1.1
        a.FaultCode = AfterPrefix(OwnText(code11));
    }
    if (const xmlNode* reason = Child(fault, "Reason")) {
        if (const xmlNode* t = Child(reason, "Text")) a.FaultReason = OwnText(t);
    } else if (const xmlNode* s = Child(fault, "faultstring")) {
        a.FaultReason = OwnText(s);
    }
}

void Collect(const xmlNode* n, TSoapAnswer& a, int depth, size_t& seen) {
    for (const xmlNode* c = n->children; c && seen < 4 * MaxValues && depth < 64; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        ++seen;
        std::string name = LocalName(c);
        if (a.Values.size() < MaxValues && a.Values.find(name) == a.Values.end())
            a.Values.emplace(name, OwnText(c));
        Collect(c, a, depth + 1, seen);
    }
}

// The UTC clock's parts below the answer's UTCDateTime element.
const xmlNode* Find(const xmlNode* n, std::string_view local, int depth) {
    for (const xmlNode* c = n->children; c && depth < 64; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (LocalName(c) == local) return c;
        if (const xmlNode* f = Find(c, local, depth + 1)) return f;
    }
    return nullptr;
}

int Number(const xmlNode* parent, std::string_view local) {
    const xmlNode* n = Child(parent, local);
    if (!n) return -1;
    std::string t = OwnText(n);
    if (t.empty() || t.size() > 6 || t.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(t);
}

} // namespace

std::string TSoapAnswer::Value(std::string_view localName) const {
    auto it = Values.find(localName);
    return it == Values.end() ? std::string() : it->second;
}

namespace {

// The document of a SOAP message, or null for anything else.
TDoc ReadEnvelope(std::string_view xml, const xmlNode*& env, const xmlNode*& body) {
    if (xml.empty() || xml.size() > MaxAnswer) return nullptr;
    InitXml();
    // No entity substitution, no DTD loading, no network: the message is read as it stands.
    TDoc doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "message.xml", nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA));
    if (!doc || doc->intSubset || doc->extSubset) return nullptr; // SOAP carries no document type
    env = xmlDocGetRootElement(doc.get());
    if (!env || LocalName(env) != "Envelope") return nullptr;
    body = Child(env, "Body");
    if (!body) return nullptr;
    return doc;
}

} // namespace

TSoapRequest ParseRequest(std::string_view xml) {
    TSoapRequest r;
    const xmlNode *env = nullptr, *body = nullptr;
    TDoc doc = ReadEnvelope(xml, env, body);
    if (!doc) return r;
    r.Parsed = true;
    for (const xmlNode* c = body->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) {
            r.Operation = LocalName(c);
            break;
        }
    const xmlNode* token = Child(Child(Child(env, "Header"), "Security"), "UsernameToken");
    if (token) {
        if (const xmlNode* n = Child(token, "Username")) r.Username = OwnText(n);
        if (const xmlNode* n = Child(token, "Password")) {
            r.Password = OwnText(n);
            if (xmlChar* type = xmlGetProp(n, reinterpret_cast<const xmlChar*>("Type"))) {
                r.PasswordType = std::string(reinterpret_cast<const char*>(type)).substr(0, MaxText);
                xmlFree(type);
            }
        }
        if (const xmlNode* n = Child(token, "Nonce")) r.Nonce = OwnText(n);
        if (const xmlNode* n = Child(token, "Created")) r.Created = OwnText(n);
    }
    TSoapAnswer values;
    size_t seen = 0;
    Collect(body, values, 0, seen);
    r.Values = std::move(values.Values);
    return r;
}

TSoapAnswer ParseAnswer(std::string_view xml) {
    TSoapAnswer a;
    const xmlNode *env = nullptr, *body = nullptr;
    TDoc doc = ReadEnvelope(xml, env, body);
    if (!doc) return a;
    a.Parsed = true;
    if (const xmlNode* fault = Child(body, "Fault")) {
        ReadFault(fault, a);
        return a;
    }
    size_t seen = 0;
    Collect(body, a, 0, seen);
    if (const xmlNode* utc = Find(body, "UTCDateTime", 0)) {
        const xmlNode* date = Child(utc, "Date");
        const xmlNode* time = Child(utc, "Time");
        int y = Number(date, "Year"), mo = Number(date, "Month"), d = Number(date, "Day");
        int h = Number(time, "Hour"), mi = Number(time, "Minute"), s = Number(time, "Second");
        if (y >= 1970 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h >= 0 && h <= 23 &&
            mi >= 0 && mi <= 59 && s >= 0 && s <= 60) {
            char text[96];
            std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", y, mo, d, h, mi, s);
            a.Values["#utc"] = text;
        }
    }
    return a;
}

bool CameraUtcTime(const TSoapAnswer& a, std::chrono::system_clock::time_point& t) {
    std::string text = a.Value("#utc");
    if (text.empty()) return false;
    std::tm tm{};
    if (!strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm)) return false;
    t = std::chrono::system_clock::from_time_t(timegm(&tm));
    return true;
}

int64_t ParseDuration(std::string_view s) {
    if (s.size() < 3 || s.size() > 64 || s[0] != 'P') return -1;
    double total = 0;
    bool time = false, any = false;
    size_t i = 1;
    while (i < s.size()) {
        if (s[i] == 'T') {
            if (time) return -1;
            time = true;
            ++i;
            continue;
        }
        size_t start = i;
        bool point = false;
        while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) {
            if (s[i] == '.') {
                if (point) return -1;
                point = true;
            }
            ++i;
        }
        if (i == start || i >= s.size() || (i - start) > 12) return -1;
        double v = std::strtod(std::string(s.substr(start, i - start)).c_str(), nullptr);
        char unit = s[i++];
        if (point && unit != 'S') return -1;
        if (!time && unit == 'D')
            total += v * 86400;
        else if (time && unit == 'H')
            total += v * 3600;
        else if (time && unit == 'M')
            total += v * 60;
        else if (time && unit == 'S')
            total += v;
        else
            return -1; // years and months have no fixed length; no camera needs them here
        any = true;
    }
    if (!any || total > 86400) return -1;
    return static_cast<int64_t>(total * 1000 + 0.5);
}

std::string PasswordDigest(std::string_view nonce, std::string_view created, std::string_view password) {
    std::string all;
    all.reserve(nonce.size() + created.size() + password.size());
    all.append(nonce).append(created).append(password);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(all.data(), all.size(), md, &n, EVP_sha1(), nullptr);
    return Base64EncodeLine(std::string_view(reinterpret_cast<const char*>(md), n));
}

std::string UtcText(std::chrono::system_clock::time_point t) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return text;
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Envelope(std::string_view body, const std::string& user, const std::string& password,
                     std::chrono::system_clock::time_point created) {
    std::string header;
    if (!user.empty()) {
        unsigned char nonce[20];
        if (RAND_bytes(nonce, sizeof nonce) != 1) throw std::runtime_error("no random bytes for the nonce");
        std::string_view n(reinterpret_cast<const char*>(nonce), sizeof nonce);
        std::string when = UtcText(created);
        header = "<s:Header><wsse:Security s:mustUnderstand=\"1\" "
                 "xmlns:wsse=\"http://docs.oasis-open.org/wss/2004/01/"
                 "oasis-200401-wss-wssecurity-secext-1.0.xsd\" "
                 "xmlns:wsu=\"http://docs.oasis-open.org/wss/2004/01/"
                 "oasis-200401-wss-wssecurity-utility-1.0.xsd\"><wsse:UsernameToken><wsse:Username>" +
                 XmlEscape(user) +
                 "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
                 "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
                 PasswordDigest(n, when, password) +
                 "</wsse:Password><wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
                 "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
                 Base64EncodeLine(n) + "</wsse:Nonce><wsu:Created>" + when +
                 "</wsu:Created></wsse:UsernameToken></wsse:Security></s:Header>";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope "
           "xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:tds=\"" +
           std::string(DeviceNs) + "\" xmlns:tt=\"" + SchemaNs + "\">" + header + "<s:Body>" +
           std::string(body) + "</s:Body></s:Envelope>";
}

namespace {

struct TSink {
    std::string Body;
};

size_t CollectBody(char* data, size_t size, size_t n, void* user) {
    auto* sink = static_cast<TSink*>(user);
    if (sink->Body.size() + size * n > MaxAnswer) return 0;
    sink->Body.append(data, size * n);
    return size * n;
}

// Direct to the camera, whatever the environment's proxy. HTTP digest only on a second try,
// after the camera asked for it: with digest wanted from the start libcurl sends an empty body
// first, which a camera that reads UsernameTokens refuses as a broken request.
void CameraRequest(CURL* c, const std::string& user, const std::string& password, bool digest) {
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    if (digest) {
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_DIGEST);
        curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
    }
}

} // namespace

namespace {
// totalMs, when not 0, bounds the whole request besides its connect and stall time-outs.
TCallResult CallOnce(const std::string& url, const std::string& action, const std::string& envelope,
                     const std::string& user, const std::string& password, int64_t timeoutMs, bool digest,
                     int64_t totalMs = 0);
} // namespace

TCallResult Call(const std::string& url, const std::string& action,
                 const std::function<std::string()>& makeEnvelope, const std::string& user,
                 const std::string& password, int64_t timeoutMs) {
    TCallResult r = CallOnce(url, action, makeEnvelope(), user, password, timeoutMs, false);
    if (r.Reached && r.Status == 401 && !user.empty())
        r = CallOnce(url, action, makeEnvelope(), user, password, timeoutMs, true);
    return r;
}

bool IsNotAuthorized(const TCallResult& r) {
    if (r.Reached && r.Status == 401) return true;
    const std::string& code = r.Answer.FaultCode;
    return r.Answer.Fault && (code == "NotAuthorized" || code == "FailedAuthentication" ||
                              code == "InvalidSecurity" || code == "InvalidSecurityToken");
}

bool IsNotSupported(const TCallResult& r) {
    const std::string& code = r.Answer.FaultCode;
    return r.Answer.Fault && (code.find("NotSupported") != std::string::npos || code == "NoFirmwareUpgrade" ||
                              code == "ActionNotSupported");
}

namespace {

// The POST body: head, the file, tail; read as libcurl asks, rewound when it resends.
class TFileBody {
  public:
    TFileBody(const std::string& file, std::string head, std::string tail)
        : FFd(open(file.c_str(), O_RDONLY | O_CLOEXEC)), FHead(std::move(head)), FTail(std::move(tail)) {
        struct stat st {};
        if (FFd.Valid() && fstat(FFd.Get(), &st) == 0 && S_ISREG(st.st_mode))
            FFileSize = static_cast<uint64_t>(st.st_size);
        else
            FFd = platform::TFd();
    }
    bool Valid() const { return FFd.Valid(); }
    uint64_t Length() const { return FHead.size() + FFileSize + FTail.size(); }
    bool Failed() const { return FFailed; }

    static size_t Read(char* buf, size_t size, size_t n, void* p) {
        return static_cast<TFileBody*>(p)->ReadSome(buf, size * n);
    }
    static int Seek(void* p, curl_off_t offset, int origin) {
        auto* self = static_cast<TFileBody*>(p);
        if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > self->Length())
            return CURL_SEEKFUNC_FAIL;
        self->FAt = static_cast<uint64_t>(offset);
        return CURL_SEEKFUNC_OK;
    }

  private:
    size_t ReadSome(char* buf, size_t n) {
        size_t out = 0;
        uint64_t headEnd = FHead.size(), fileEnd = headEnd + FFileSize;
        if (FAt < headEnd) {
            size_t k = std::min<size_t>(n, headEnd - FAt);
            std::memcpy(buf, FHead.data() + FAt, k);
            out = k;
        } else if (FAt < fileEnd) {
            ssize_t k = pread(FFd.Get(), buf, std::min<uint64_t>(n, fileEnd - FAt),
                              static_cast<off_t>(FAt - headEnd));
            if (k <= 0) {
                FFailed = true;
                return CURL_READFUNC_ABORT;
            }
            out = static_cast<size_t>(k);
        } else if (FAt < Length()) {
            size_t k = std::min<size_t>(n, Length() - FAt);
            std::memcpy(buf, FTail.data() + (FAt - fileEnd), k);
            out = k;
        }
        FAt += out;
        progress::Report(progress::TStage::Upload, static_cast<int64_t>(FAt), static_cast<int64_t>(Length()));
        return out;
    }

    platform::TFd FFd;
    std::string FHead, FTail;
    uint64_t FFileSize = 0, FAt = 0;
    bool FFailed = false;
};

} // namespace

namespace {

// One POST to a camera with the body setBody gives it; the answer at most MaxAnswer.
TPostResult Post(const std::string& url, const std::string& contentType, const std::string& user,
                 const std::string& password, int64_t connectMs, int64_t readMs, bool digest,
                 const std::function<void(CURL*)>& setBody, const TFileBody* file = nullptr) {
    TPostResult r;
    char err[CURL_ERROR_SIZE];
    http::TEasy easy = http::NewRequest(url, err, connectMs);
    if (!easy) {
        r.Error = "bad address";
        return r;
    }
    CURL* c = easy.get();
    CameraRequest(c, user, password, digest);
    http::THeaderList headers;
    headers.Drop("Accept");
    headers.Drop("Expect");
    if (!headers.Add("Content-Type", contentType)) {
        r.Error = "bad content type";
        return r;
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.Get());
    setBody(c);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxAnswer));
    http::TStallGuard guard(c, platform::Timeout(readMs));
    TSink sink;
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    CURLcode code = http::Perform(c);
    if (code != CURLE_OK) {
        r.Error = file && file->Failed() ? "the image cannot be read" : http::ErrorText(code, err, &guard);
        return r;
    }
    r.Reached = true;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.Status);
    r.Body = std::move(sink.Body);
    return r;
}

TCallResult CallOnce(const std::string& url, const std::string& action, const std::string& envelope,
                     const std::string& user, const std::string& password, int64_t timeoutMs, bool digest,
                     int64_t totalMs) {
    TPostResult p =
        Post(url, "application/soap+xml; charset=utf-8; action=\"" + action + "\"", user, password, timeoutMs,
             timeoutMs, digest, [&](CURL* c) {
                 curl_easy_setopt(c, CURLOPT_POSTFIELDS, envelope.data());
                 curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(envelope.size()));
                 if (totalMs > 0)
                     curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(platform::Timeout(totalMs)));
             });
    TCallResult r;
    r.Reached = p.Reached;
    r.Status = p.Status;
    r.Error = p.Error;
    if (p.Reached) r.Answer = ParseAnswer(p.Body);
    return r;
}

TPostResult PostOnce(const std::string& url, const std::string& contentType, const std::string& file,
                     const std::string& head, const std::string& tail, const std::string& user,
                     const std::string& password, int64_t connectMs, int64_t readMs, bool digest) {
    TFileBody body(file, head, tail);
    if (!body.Valid()) {
        TPostResult r;
        r.Error = "the image cannot be read";
        return r;
    }
    return Post(
        url, contentType, user, password, connectMs, readMs, digest,
        [&](CURL* c) {
            curl_easy_setopt(c, CURLOPT_POST, 1L);
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.Length()));
            curl_easy_setopt(c, CURLOPT_READFUNCTION, &TFileBody::Read);
            curl_easy_setopt(c, CURLOPT_READDATA, &body);
            curl_easy_setopt(c, CURLOPT_SEEKFUNCTION, &TFileBody::Seek);
            curl_easy_setopt(c, CURLOPT_SEEKDATA, &body);
            curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
        },
        &body);
}

} // namespace

TPostResult PostFile(const std::string& url, const std::string& contentType, const std::string& file,
                     const std::string& head, const std::string& tail, const std::string& user,
                     const std::string& password, int64_t connectMs, int64_t readMs) {
    TPostResult r = PostOnce(url, contentType, file, head, tail, user, password, connectMs, readMs, false);
    if (r.Reached && r.Status == 401 && !user.empty())
        r = PostOnce(url, contentType, file, head, tail, user, password, connectMs, readMs, true);
    return r;
}

TCallResult AskClock(const std::string& url, int64_t timeoutMs) {
    return CallOnce(url, std::string(DeviceNs) + "/GetSystemDateAndTime",
                    Envelope("<tds:GetSystemDateAndTime/>"), "", "", timeoutMs, false, timeoutMs);
}

std::string UrlHost(std::string_view url) {
    size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return {};
    std::string s(url.substr(0, scheme));
    for (char& ch : s)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (s != "http" && s != "https") return {};
    std::string_view rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (rest.find('@') != std::string_view::npos) return {}; // no credentials in a camera's URL
    if (!rest.empty() && rest[0] == '[') return std::string(rest.substr(0, rest.find(']') + 1));
    return std::string(rest.substr(0, rest.find(':')));
}

} // namespace onvif
