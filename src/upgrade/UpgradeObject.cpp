#include "UpgradeObject.h"

#include "ImageCache.h"
#include "PackageFiles.h"
#include "base/Files.h"
#include "lang/IniFile.h"
#include "platform/Fd.h"
#include "platform/Platform.h"
#include "transport/CameraGet.h"
#include "transport/HttpClient.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

std::string CopyBeforeLast(const std::string& Sub, const std::string& S) {
    std::string sub = LowerCase(Sub), s = LowerCase(S);
    size_t last = std::string::npos;
    for (size_t p = 0; p < s.size(); ++p)
        if (s.compare(p, sub.size(), sub) == 0) last = p;
    return last == std::string::npos ? std::string() : S.substr(0, last);
}

TUpgradeObject::TUpgradeObject() : FUser("admin"), FIP("192.168.1.126"), FPort(81), FModelKeyLen(0) {}

TUpgradeObject::~TUpgradeObject() {
    if (!FSessionDir.empty()) DeleteDir(FSessionDir, true);
}

std::string TUpgradeObject::ServerBase() const {
    return FirmwareServerBase(FFirmwareServer);
}

std::string TUpgradeObject::CameraBase() const {
    return "http://" + FIP + ":" + std::to_string(FPort);
}

std::string TUpgradeObject::GetImageFileName() {
    std::string f = TrimText(FFirmwareFile);
    if (f.size() >= 4) f.resize(f.size() - 4);
    return f + ".bin";
}

std::string TUpgradeObject::GetServerFolder() {
    return FOEMName;
}

int TUpgradeObject::Login() {
    std::string body;
    if (!IsCameraAddress(FIP)) {
        FOEMName.clear();
        return 2;
    }
    bool ok =
        TTools::HttpGet(CameraBase() + "/oem.txt", body, CameraTimeout, TrimText(FUser), TrimText(FPassword));
    int result = !ok ? 2 : (body.empty() || body.find("Unauthorized") != std::string::npos) ? 1 : 0;
    FOEMName = result == 0 ? body : std::string();
    return result;
}

bool TUpgradeObject::ReadCurrentVersion() {
    FCurVersion.clear();
    return false;
}

bool TUpgradeObject::ReadAppVer(std::string& Body) {
    return TTools::HttpGet(CameraBase() + "/appver.js", Body, CameraTimeout, FUser, FPassword);
}

std::string StatusValue(const std::string& Body, const std::string& Key, char Quote) {
    size_t at = Body.find(Key);
    if (at == std::string::npos) return {};
    size_t start = at + Key.size() + 2;
    if (start > Body.size()) return {};
    size_t end = Body.find(Quote, start);
    return end == std::string::npos ? std::string() : Body.substr(start, end - start);
}

std::string TUpgradeObject::GetSectionName() {
    if (!FModel.empty())
        return FModelKeyLen > 0 ? FModel.substr(0, static_cast<size_t>(FModelKeyLen)) : FModel;
    return CopyBeforeLast(".", FCurVersion);
}

void TUpgradeObject::GetLatestInfo(std::string& MD5, std::string& NO, std::string& Version) {
    Version.clear();
    MD5.clear();
    NO.clear();
    FSHA256.clear();
    std::string section = GetSectionName();
    if (section.empty()) return;
    std::string folder = LowerCase(GetServerFolder());
    if (!IsSafeServerFolder(folder, ServerBase()) || !LocalServerTrusted(ServerBase(), folder)) return;
    std::string temp, mine;
    try {
        temp = TTools::GetTempDir();
        unlink((temp + "Firmware.ini").c_str());
        // This session reads its own copy; sessions running side by side (another folder, another
        // process) would otherwise read each other's lists.
        mine = temp + ".Firmware.ini-XXXXXX";
        platform::TFd hold(mkostemp(mine.data(), O_CLOEXEC));
        if (!hold.Valid()) return;
        FetchFirmwareList(ServerBase() + http::PercentEncodePath(folder) + "/firmware.txt", mine, FCaFile);
    } catch (...) {
        // The list is simply missing then; the session reports that no version was found.
    }
    if (mine.empty() || !IsPlainFile(mine)) return;
    TIniFile ini(mine);
    rename(mine.c_str(), (temp + "Firmware.ini").c_str());
    ReadLatestEntry(ini, section, MD5, NO, Version);
}

void TUpgradeObject::ReadLatestEntry(const TIniFile& List, const std::string& Section, std::string& MD5,
                                     std::string& NO, std::string& Version) {
    Version = List.ReadString(Section, GetVersionKey(), "");
    MD5 = List.ReadString(Section, "MD5", "");
    NO = List.ReadString(Section, "NO", "");
    FSHA256 = TrimText(List.ReadString(Section, "SHA256", ""));
    FFirmwareFile = List.ReadString(Section, GetFileKey(), "");
}

bool TUpgradeObject::IsSameVersion(const std::string& Version) {
    return TrimText(LowerCase(Version)) == TrimText(LowerCase(FCurVersion));
}

bool TUpgradeObject::DoUpgrade(std::string&) {
    return false;
}

int TUpgradeObject::PreparePackage(const std::string& MD5) {
    std::string name = TrimText(FFirmwareFile);
    std::string imageName = GetImageFileName();
    std::string folder = LowerCase(GetServerFolder());
    if (!IsSafePackageName(name) || !IsSafePackageName(imageName) ||
        !IsSafeServerFolder(folder, ServerBase()))
        return 1;
    std::string cache = imagecache::CacheDir();
    if (cache.empty()) return 1;
    std::string url = ServerBase() + http::PercentEncodePath(folder) + "/" + http::PercentEncodePath(name);
    std::string package = cache + name;
    FImagePath = cache + imageName;

    imagecache::TImageLock lock(FImagePath);
    int result = 0;
    if (!imagecache::IsVerified(FImagePath, MD5, folder, FSHA256)) {
        imagecache::Forget(FImagePath);
        try {
            if (!TUpgradeOpt::DownloadFile(url, package, TUpgradeOpt::MaxPackageSize, FCaFile)) return 1;
        } catch (const std::exception& e) {
            // A file that cannot be made is a failed download, with its line.
            platform::MessageBox(e.what(), "", platform::MB_ICONERROR);
            return 1;
        }
        if (!TUpgradeOpt::CheckMD5(package, MD5)) return 2;
        if (!FSHA256.empty() && !TUpgradeOpt::CheckSHA256(package, FSHA256)) return 2;
        // Everything the archive holds lands in a scratch folder of this image alone; only the
        // image leaves it, and the rest goes with the folder.
        std::string scratch = imagecache::ScratchDir(FImagePath);
        TTools::DeleteDir(scratch, true);
        if (mkdir(scratch.c_str(), 0700) != 0) return 3;
        bool unpacked = TUpgradeOpt::UnzipFile(package, scratch + imageName) &&
                        imagecache::Install(scratch + imageName, FImagePath, MD5, folder, FSHA256);
        TTools::DeleteDir(scratch, true);
        if (!unpacked) return 3;
        result = IsPlainFile(FImagePath) ? 0 : 4;
    } else {
        imagecache::Used(FImagePath);
    }
    if (IsPlainFile(package)) unlink(package.c_str());
    if (result == 0) KeepOwnCopy(FImagePath);
    return result;
}

namespace {

constexpr const char kSessionPrefix[] = ".session-";

// The work folder's lock of session folders: held shared by a session from making its folder
// until it has locked it, and exclusively by whoever removes folders left behind, so that a
// folder being made is never taken for a left-over one.
platform::TFd LockSessionFolders(const std::string& temp, int how) {
    platform::TFd fd(
        open((temp + ".sessions.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    while (fd.Valid() && flock(fd.Get(), how) != 0)
        if (errno != EINTR) fd.Reset();
    return fd;
}

struct TDirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

// Session folders whose lock is free belong to no living session (a process ended by a second
// Ctrl-C or a crash): they and the hard links to whole images they hold are removed.
void RemoveLeftSessionFolders(const std::string& temp) {
    platform::TFd all = LockSessionFolders(temp, LOCK_EX);
    if (!all.Valid()) return;
    std::vector<std::string> left;
    {
        std::unique_ptr<DIR, TDirCloser> dir(opendir(temp.c_str()));
        if (!dir) return;
        while (dirent* e = readdir(dir.get())) {
            if (std::strncmp(e->d_name, kSessionPrefix, sizeof kSessionPrefix - 1) != 0) continue;
            platform::TFd folder(
                openat(dirfd(dir.get()), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (folder.Valid() && flock(folder.Get(), LOCK_EX | LOCK_NB) == 0) left.push_back(e->d_name);
        }
    }
    for (const std::string& name : left)
        DeleteDir(temp + name, true);
}

} // namespace

bool TUpgradeObject::NewSessionDir() {
    if (!FSessionDir.empty()) DeleteDir(FSessionDir, true);
    FSessionLock.Reset();
    std::string temp = TTools::GetTempDir();
    RemoveLeftSessionFolders(temp);
    platform::TFd making = LockSessionFolders(temp, LOCK_SH);
    FSessionDir = temp + kSessionPrefix + "XXXXXX";
    if (making.Valid() && mkdtemp(FSessionDir.data())) {
        // Locked for as long as this object lives; the kernel lets go when the process dies.
        FSessionLock.Reset(open(FSessionDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (FSessionLock.Valid() && flock(FSessionLock.Get(), LOCK_EX | LOCK_NB) == 0) return true;
        FSessionLock.Reset();
        DeleteDir(FSessionDir, true);
    }
    FSessionDir.clear();
    return false;
}

bool TUpgradeObject::KeepOwnCopy(const std::string& Image) {
    // A second name for the same file, in a folder of this session: sessions running side by
    // side may replace the shared image while this one still uploads it.
    if (!NewSessionDir()) return false;
    std::string own = FSessionDir + "/" + Image.substr(Image.rfind('/') + 1);
    // The cache may lie on another file system than the work folder: then a copy.
    if (link(Image.c_str(), own.c_str()) != 0 && (errno != EXDEV || !imagecache::CopyImage(Image, own)))
        return false;
    FImagePath = own;
    return true;
}

int TUpgradeObject::PrepareLocalPackage(const std::string& Given, const std::string& MD5,
                                        const std::string& SHA256) {
    // The operator may name the file through a link: it is resolved once, and the file itself is
    // read, checked and uploaded (the upload opens nothing through a link).
    std::unique_ptr<char, decltype(&std::free)> real(realpath(Given.c_str(), nullptr), &std::free);
    if (!real) return 1;
    const std::string File = real.get();
    char head[4] = {};
    {
        platform::TFd in(open(File.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (!in.Valid() || fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return 1;
        if (platform::ReadSome(in.Get(), head, sizeof head) < 0) return 1;
    }
    if (!MD5.empty() && !TUpgradeOpt::CheckMD5(File, MD5)) return 2;
    if (!SHA256.empty() && !TUpgradeOpt::CheckSHA256(File, SHA256)) return 2;
    std::string name = File.substr(File.rfind('/') + 1);
    FFirmwareFile = name;
    if (std::memcmp(head, "PK\x03\x04", 4) != 0) {
        // An image or .pk2 as it is: uploaded from where the operator keeps it.
        FImagePath = File;
        return 0;
    }
    std::string imageName = GetImageFileName();
    if (!IsSafePackageName(imageName)) return 3;
    if (!NewSessionDir()) return 3;
    // Unpacked one level down, so that only the image is taken from what the archive holds.
    std::string scratch = FSessionDir + "/unpack/";
    if (mkdir(scratch.c_str(), 0700) != 0) return 3;
    std::string image = FSessionDir + "/" + imageName;
    if (!TUpgradeOpt::UnzipFile(File, scratch + imageName) || !IsPlainFile(scratch + imageName) ||
        rename((scratch + imageName).c_str(), image.c_str()) != 0)
        return 3;
    DeleteDir(scratch, true);
    FImagePath = image;
    return 0;
}

bool TSysUpgradeObject::ReadCurrentVersion() {
    FCurVersion.clear();
    try {
        std::string body;
        if (ReadAppVer(body))
            FModel = body.find("app_model") != std::string::npos ? StatusValue(body, "app_model") : "";
        return true;
    } catch (...) {
        return false;
    }
}

bool TUIUpgradeObject::ReadCurrentVersion() {
    FCurVersion.clear();
    std::string body;
    if (!ReadAppVer(body)) return false;
    FModel = body.find("app_model") != std::string::npos ? StatusValue(body, "app_model") : "";
    if (body.find("app_ver") == std::string::npos) return false;
    std::string v = StatusValue(body, "app_ver");
    std::string out;
    for (char c : v)
        if (c != 'v') out += c;
    FCurVersion = TrimText(out);
    return true;
}
