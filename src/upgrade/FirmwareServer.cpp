#include "FirmwareServer.h"

#include "ImageCache.h"
#include "PackageFiles.h"
#include "base/Files.h"
#include "base/Text.h"
#include "platform/Platform.h"
#include "transport/HttpClient.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace {

constexpr size_t kMaxNameBytes = 255;
// Every name made from a package name must fit the file system's 255 bytes too: the longest is
// a cache record's temporary name (".verified.tmp" with a process number and a random number,
// 31 bytes more); a mirror's partial download takes 19 more.
constexpr size_t kMaxPackageNameBytes = kMaxNameBytes - 31;

std::atomic<bool> gShareLists{false};

struct TSharedList {
    std::mutex Lock;
    bool Done = false;
    std::string Bytes;
};

std::mutex& SharedListsLock() {
    static std::mutex m;
    return m;
}
std::map<std::string, std::shared_ptr<TSharedList>>& SharedLists() {
    static std::map<std::string, std::shared_ptr<TSharedList>> lists;
    return lists;
}

} // namespace

bool IsSafePackageName(const std::string& name) {
    if (name.empty() || name.size() > kMaxPackageNameBytes || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos || name.find("..") != std::string::npos ||
        imagecache::IsOwnFileName(name))
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

// The folder comes from the camera for UI firmware.
bool IsSafeServerFolder(const std::string& folder, const std::string& base) {
    std::string t = TrimText(folder);
    if (t.empty() || t == "." || t == ".." || folder.size() > kMaxNameBytes) return false;
    // A local folder as the server decodes "%2F" back into "/": there the name must stay one
    // folder, or a camera could point the session at any file of this machine.
    bool local = base.rfind("file:", 0) == 0;
    return !local || (folder.find_first_of("/\\") == std::string::npos &&
                      folder.find("..") == std::string::npos && folder.find('%') == std::string::npos);
}

// Its files are uploaded to cameras as they are.
bool LocalServerTrusted(const std::string& base, const std::string& folder) {
    if (base.rfind("file://", 0) != 0) return true;
    std::string path;
    for (size_t i = 7; i < base.size(); ++i) {
        if (base[i] == '%' && i + 2 < base.size() && std::isxdigit(static_cast<unsigned char>(base[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(base[i + 2]))) {
            path += static_cast<char>(std::stoi(base.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += base[i];
        }
    }
    std::string why;
    for (const std::string& dir : {path, path + folder})
        if (!IsTrustedFolder(dir, why)) {
            platform::MessageBox("The firmware folder " + dir + ": " + why + " (not used)", "",
                                 platform::MB_ICONERROR);
            return false;
        }
    return true;
}

std::string FirmwareServerBase(const std::string& Given) {
    std::string base = FirmwareServerURL(Given);
    if (base.empty()) base = "http://firmware-server.invalid/FM/";
    if (base.back() != '/') base += '/';
    return base;
}

std::string FirmwareServerURL(const std::string& Given) {
    std::string t = TrimText(Given);
    if (t.empty() || t.find("://") != std::string::npos) return t;
    std::string path = t;
    if (path[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (cwd) path = std::string(cwd) + "/" + path;
        std::free(cwd);
    }
    return "file://" + http::PercentEncodeFilePath(path);
}

void ShareFirmwareLists(bool On) {
    gShareLists = On;
    if (!On) {
        std::lock_guard g(SharedListsLock());
        SharedLists().clear();
    }
}

void FetchFirmwareList(const std::string& url, const std::string& target, const std::string& CaFile) {
    if (!gShareLists) {
        TUpgradeOpt::DownloadFile(url, target, TUpgradeOpt::MaxListSize, CaFile);
        return;
    }
    std::shared_ptr<TSharedList> list;
    {
        std::lock_guard g(SharedListsLock());
        auto& slot = SharedLists()[url];
        if (!slot) slot = std::make_shared<TSharedList>();
        list = slot;
    }
    std::lock_guard g(list->Lock);
    if (list->Done) {
        WriteFileAtomically(target, list->Bytes, 0600);
        return;
    }
    if (TUpgradeOpt::DownloadFile(url, target, TUpgradeOpt::MaxListSize, CaFile) &&
        ReadWholeFile(target, list->Bytes))
        list->Done = true;
}
