#include "HttpClient.h"

#include "Base64.h"
#include "base/Text.h"
#include "platform/Platform.h"

#include <mutex>

namespace http {

bool IsSafeHeaderValue(std::string_view value) {
    for (unsigned char c : value)
        if (c == '\r' || c == '\n' || c == '\0' || c == 0x7F) return false;
    return true;
}

bool IsSafeTarget(std::string_view target) {
    for (unsigned char c : target)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

bool THeaderList::Add(std::string_view name, std::string_view value) {
    if (!IsSafeHeaderValue(name) || !IsSafeHeaderValue(value) || name.find(':') != std::string_view::npos) {
        FOk = false;
        return false;
    }
    std::string line(name);
    // "Name;" is libcurl's spelling of a header sent with an empty value.
    if (value.empty())
        line += ";";
    else {
        line += ": ";
        line += value;
    }
    curl_slist* l = curl_slist_append(FList.get(), line.c_str());
    if (!l) {
        FOk = false;
        return false;
    }
    FList.release();
    FList.reset(l);
    return true;
}

void THeaderList::Drop(std::string_view name) {
    std::string line(name);
    line += ":";
    if (curl_slist* l = curl_slist_append(FList.get(), line.c_str())) {
        FList.release();
        FList.reset(l);
    } else {
        FOk = false;
    }
}

namespace {

std::string Encode(std::string_view text, std::string_view alsoEncoded) {
    static constexpr char hex[] = "0123456789ABCDEF";
    static constexpr std::string_view meaningful = "\"#%&+;<=>[\\]^`{|}";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool encode = c <= 0x20 || c >= 0x7F ||
                      meaningful.find(static_cast<char>(c)) != std::string_view::npos ||
                      alsoEncoded.find(static_cast<char>(c)) != std::string_view::npos;
        if (encode) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

struct TTextSink {
    std::string Body;
    size_t Max;
};

size_t CollectText(char* data, size_t size, size_t n, void* user) {
    auto* sink = static_cast<TTextSink*>(user);
    if (sink->Body.size() + size * n > sink->Max) return 0;
    sink->Body.append(data, size * n);
    return size * n;
}

} // namespace

std::string PercentEncode(std::string_view text) {
    return Encode(text, "");
}

std::string PercentEncodePath(std::string_view text) {
    return Encode(text, "/?");
}

std::string PercentEncodeFilePath(std::string_view text) {
    return Encode(text, "?");
}

TEasy NewRequest(const std::string& url, char (&errorBuffer)[CURL_ERROR_SIZE], int64_t connectMs) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    errorBuffer[0] = '\0';
    if (!IsSafeTarget(url)) return TEasy();
    TEasy easy(curl_easy_init());
    if (!easy) return easy;
    CURL* c = easy.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // What began protected stays protected: a redirect never leaves https for http.
    bool secure = LowerCase(url.substr(0, 8)) == "https://";
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(platform::Timeout(connectMs)));
    TraceRequest(c);
    return easy;
}

TStallGuard::TCrawlMeter::TCrawlMeter()
    : FWindowMs(platform::Timeout(60000)), FMinBytes(static_cast<uint64_t>(FWindowMs) * 1024 / 1000),
      FWindowStart(std::chrono::steady_clock::now()) {}

bool TStallGuard::TCrawlMeter::Moved(uint64_t totalBytes, std::chrono::steady_clock::time_point now) {
    if (std::chrono::duration_cast<std::chrono::milliseconds>(now - FWindowStart).count() < FWindowMs)
        return true;
    bool enough = totalBytes - FWindowBytes >= FMinBytes;
    FWindowStart = now;
    FWindowBytes = totalBytes;
    return enough;
}

TStallGuard::TStallGuard(CURL* easy, int64_t limitMs)
    : FLimitMs(limitMs), FLast(std::chrono::steady_clock::now()) {
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &TStallGuard::OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &TStallGuard::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
}

int TStallGuard::OnConnected(void* p, char*, char*, int, int) {
    // The wait for data starts when the connection stands; connecting had a budget of its own.
    static_cast<TStallGuard*>(p)->FLast = std::chrono::steady_clock::now();
    return CURL_PREREQFUNC_OK;
}

int TStallGuard::OnProgress(void* p, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* self = static_cast<TStallGuard*>(p);
    auto now = std::chrono::steady_clock::now();
    if (!self->FCrawl.Moved(static_cast<uint64_t>(dlnow) + static_cast<uint64_t>(ulnow), now)) {
        self->FCrawled = true;
        return 1;
    }
    if (dlnow != self->FLastDown || ulnow != self->FLastUp) {
        self->FLastDown = dlnow;
        self->FLastUp = ulnow;
        self->FLast = now;
        return 0;
    }
    if (self->FLimitMs > 0 &&
        std::chrono::duration_cast<std::chrono::milliseconds>(now - self->FLast).count() > self->FLimitMs) {
        self->FStalled = true;
        return 1;
    }
    return 0;
}

std::string ErrorText(CURLcode code, const char* errorBuffer, const TStallGuard* guard) {
    if (guard && guard->Stalled()) return "Read timed out.";
    if (guard && guard->Crawled()) return "The transfer is too slow.";
    if (code == CURLE_FILESIZE_EXCEEDED) return "The answer is larger than this program takes.";
    if (errorBuffer && *errorBuffer) return errorBuffer;
    return curl_easy_strerror(code);
}

void Direct(CURL* easy) {
    // An empty proxy overrides the environment's; "*" keeps any later default from applying.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
}

bool GetText(const std::string& URL, std::string& Body, int64_t TimeoutMs, const std::string& User,
             const std::string& Password, size_t MaxBytes) {
    if (URL.empty()) return false;
    char err[CURL_ERROR_SIZE];
    TEasy easy = NewRequest(URL, err, TimeoutMs);
    if (!easy) return false;
    CURL* c = easy.get();
    Direct(c);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxBytes));
    TStallGuard guard(c, platform::Timeout(TimeoutMs));
    THeaderList headers;
    headers.Drop("Accept");
    if (!User.empty() && !headers.Add("Authorization", "Basic " + Base64EncodeLine(User + ":" + Password)))
        return false;
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.Get());
    TTextSink sink{{}, MaxBytes};
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CollectText);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    if (Perform(c) != CURLE_OK) return false;
    // Only a 2xx answer is a body: error pages and redirections are failures here.
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) return false;
    Body = std::move(sink.Body);
    return true;
}

} // namespace http
