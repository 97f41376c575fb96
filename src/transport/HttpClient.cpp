#include "HttpClient.h"

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

std::string PercentEncode(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

TEasy NewEasy() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    TEasy easy(curl_easy_init());
    if (!easy) return easy;
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    return easy;
}

TStallGuard::TStallGuard(CURL* easy, int64_t limitMs)
    : FLimitMs(limitMs), FLast(std::chrono::steady_clock::now()) {
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &TStallGuard::OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
}

int TStallGuard::OnProgress(void* p, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* self = static_cast<TStallGuard*>(p);
    auto now = std::chrono::steady_clock::now();
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
    if (errorBuffer && *errorBuffer) return errorBuffer;
    return curl_easy_strerror(code);
}

} // namespace http
