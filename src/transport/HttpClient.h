// What every libcurl transfer of the program shares: handle ownership, the header and target
// validator, percent-encoding of operator and camera text, and the per-read stall limit.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace http {

struct TEasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct TSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using TEasy = std::unique_ptr<CURL, TEasyDeleter>;

// A header list that refuses lines which could split a request.
class THeaderList {
  public:
    bool Add(std::string_view name, std::string_view value);
    // Adds "Name:" with nothing after it, which tells libcurl to drop its own header of that name.
    void Drop(std::string_view name);
    curl_slist* Get() const { return FList.get(); }
    bool Ok() const { return FOk; }

  private:
    std::unique_ptr<curl_slist, TSlistDeleter> FList;
    bool FOk = true;
};

// No CR, LF, NUL or DEL: such a byte in a header value or request target would let the text
// that carries it write further header lines or a second request.
bool IsSafeHeaderValue(std::string_view value);
bool IsSafeTarget(std::string_view target);

// Percent-encodes every byte outside the RFC 3986 unreserved set.
std::string PercentEncode(std::string_view text);

// A fresh easy handle with what every transfer here wants: no signals (safe on any thread) and
// only http and https, also after a redirection. Null if libcurl cannot give one.
TEasy NewEasy();

// Aborts a transfer in which no byte moved, either way, for longer than LimitMs. libcurl's own
// time-outs are either whole-transfer or whole seconds; this one is per wait, in milliseconds.
class TStallGuard {
  public:
    TStallGuard(CURL* easy, int64_t limitMs);
    bool Stalled() const { return FStalled; }

  private:
    static int OnProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                          curl_off_t ulnow);
    int64_t FLimitMs;
    std::chrono::steady_clock::time_point FLast;
    curl_off_t FLastDown = 0, FLastUp = 0;
    bool FStalled = false;
};

// The error text of a failed transfer: libcurl's own detail where it gave one.
std::string ErrorText(CURLcode code, const char* errorBuffer, const TStallGuard* guard = nullptr);

} // namespace http
