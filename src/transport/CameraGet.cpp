#include "CameraGet.h"

#include "Base64.h"
#include "CameraIdentity.h"
#include "HttpClient.h"
#include "platform/Platform.h"

#include <algorithm>

namespace {

size_t CollectBody(char* data, size_t size, size_t n, void* user) {
    auto* body = static_cast<std::string*>(user);
    size_t bytes = size * n;
    size_t room = TTools::HttpBodyLimit - body->size();
    body->append(data, std::min(bytes, room));
    // Returning short stops the transfer: the body is read once, up to its limit.
    return bytes <= room ? bytes : 0;
}

// The path of a URL, without its query.
std::string UrlPath(const std::string& url) {
    size_t host = url.find("://");
    size_t slash = url.find('/', host == std::string::npos ? 0 : host + 3);
    if (slash == std::string::npos) return "/";
    return url.substr(slash, url.find('?', slash) - slash);
}

} // namespace

bool IsCameraAddress(const std::string& text) {
    if (text.empty() || text.size() > 253 || text.front() == '-' || text.front() == '.') return false;
    for (unsigned char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
              c == '-'))
            return false;
    return true;
}

bool TTools::HttpGet(const std::string& URL, std::string& Body, int Timeout, const std::string& User,
                     const std::string& Password) {
    Body.clear();
    char err[CURL_ERROR_SIZE];
    http::TEasy easy = http::NewRequest(URL, err, Timeout);
    if (!easy) return false;
    CURL* c = easy.get();
    http::Direct(c);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "MyIP");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 15L);
    // Cameras with an answer that has no status line, as the designed client reads them.
    curl_easy_setopt(c, CURLOPT_HTTP09_ALLOWED, 1L);
    http::TStallGuard guard(c, platform::Timeout(Timeout));
    http::THeaderList headers;
    if (!User.empty() || !Password.empty()) {
        if (!headers.Add("Authorization", "Basic " + Base64EncodeLine(User + ":" + Password))) return false;
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.Get());
    }
    std::string body;
    body.reserve(4096);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    CURLcode rc = http::Perform(c);
    // One read is what the designed client asks for: a body cut at its limit, or one that ended
    // before its announced length, has been read all the same.
    bool read = rc == CURLE_OK || rc == CURLE_PARTIAL_FILE ||
                (rc == CURLE_WRITE_ERROR && body.size() == HttpBodyLimit);
    if (!read) return false;
    if (auto z = body.find('\0'); z != std::string::npos) body.resize(z);
    // The status page names the camera; whoever runs a session here keeps that for its report.
    if (UrlPath(URL) == "/get_status.cgi") TIdentityNotes::Note(StatusPageIdentity(body));
    Body = std::move(body);
    return true;
}

std::string TTools::GetTempDir() {
    return TempDir();
}

std::string TTools::GetModulePath() {
    return platform::ExePath();
}

std::string TTools::GetAppPath() {
    return AppPath();
}

std::string TTools::GetSpecialDir(int Folder, bool Create) {
    return Folder == CSIDL_APPDATA ? RoamingDir(Create) : std::string();
}

std::string TTools::GetUserDataDir(int Folder, bool Create) {
    return Folder == CSIDL_APPDATA ? UserDataDir(Create) : std::string();
}

bool TTools::ForceDir(const std::string& Dir) {
    return ::ForceDir(Dir);
}

bool TTools::DeleteDir(const std::string& Dir, bool RemoveSelf) {
    return ::DeleteDir(Dir, RemoveSelf);
}

void TTools::SplitText(const std::string& Text, const std::string& Separator, TStringList& List) {
    ::SplitText(Text, Separator, List);
}

void TTools::FindFiles(TStringList& List, const std::string& Dir, const std::string& Masks,
                       bool NoDuplicates) {
    ::FindFiles(List, Dir, Masks, NoDuplicates);
}

std::string TTools::Base64Encode(const std::string& Data) {
    return ::Base64Encode(Data);
}
