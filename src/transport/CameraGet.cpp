#include "CameraGet.h"

#include "Base64.h"
#include "CameraIdentity.h"
#include "HttpClient.h"
#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

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

struct TDirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

} // namespace

bool IsCameraAddress(const std::string& text) {
    if (text.empty() || text.size() > 253 || text.front() == '-' || text.front() == '.') return false;
    for (unsigned char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
              c == '-'))
            return false;
    return true;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST) return false;
    TTools::DeleteDir(to, true);
    return rename(from.c_str(), to.c_str()) == 0;
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
    try {
        return platform::PrivateTempDir();
    } catch (const platform::TPlatformError& e) {
        platform::MessageBox(e.what(), "错误", platform::MB_ICONERROR);
        throw;
    }
}

std::string TTools::GetModulePath() {
    return platform::ExePath();
}

std::string TTools::GetAppPath() {
    std::string p = GetModulePath();
    auto pos = p.rfind('/');
    return pos == std::string::npos ? std::string() : p.substr(0, pos + 1);
}

std::string TTools::GetSpecialDir(int Folder, bool Create) {
    std::string p = Folder == CSIDL_APPDATA ? platform::RoamingDataDir() : std::string();
    if (p.empty()) return p;
    if (p.back() != '/') p += '/';
    if (Create) ForceDir(p);
    return p;
}

std::string TTools::GetUserDataDir(int Folder, bool Create) {
    std::string p = GetSpecialDir(Folder, false);
    if (p.empty()) return p;
    std::string module = GetModulePath();
    auto slash = module.rfind('/');
    std::string name = slash == std::string::npos ? module : module.substr(slash + 1);
    if (name.size() > 4 && name[name.size() - 4] == '.') name.resize(name.size() - 4);
    // Programs here rarely carry an extension; the folder must end with a separator all the same.
    p += name + "/";
    if (Create) ForceDir(p);
    return p;
}

bool TTools::ForceDir(const std::string& Dir) {
    return ::ForceDir(Dir);
}

bool TTools::DeleteDir(const std::string& Dir, bool RemoveSelf) {
    return ::DeleteDir(Dir, RemoveSelf);
}

void TTools::SplitText(const std::string& Text, const std::string& Separator, TStringList& List) {
    if (Separator.empty()) {
        List.push_back(Text);
        return;
    }
    size_t start = 0;
    for (size_t pos = Text.find(Separator); pos != std::string::npos; pos = Text.find(Separator, start)) {
        List.push_back(Text.substr(start, pos - start));
        start = pos + Separator.size();
    }
    List.push_back(Text.substr(start));
}

void TTools::FindFiles(TStringList& List, const std::string& Dir, const std::string& Masks,
                       bool NoDuplicates) {
    if (Dir.empty()) return;
    std::string d = Dir.back() == '/' ? Dir : Dir + "/";
    TStringList masks;
    SplitText(Masks, Masks.find(';') != std::string::npos ? ";" : "|", masks);
    for (const std::string& mask : masks) {
        std::unique_ptr<DIR, TDirCloser> dir(opendir(d.c_str()));
        if (!dir) return;
        while (dirent* e = readdir(dir.get())) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
            std::string p = d + name;
            if (IsDir(p)) continue;
            if (NoDuplicates) {
                bool known = false;
                for (const std::string& q : List)
                    if (strcasecmp(q.c_str(), p.c_str()) == 0) {
                        known = true;
                        break;
                    }
                if (known) continue;
            }
            List.push_back(std::move(p));
        }
    }
}

std::string TTools::Base64Encode(const std::string& Data) {
    return ::Base64Encode(Data);
}
