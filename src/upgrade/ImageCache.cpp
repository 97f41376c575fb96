#include "ImageCache.h"

#include "base/Files.h"
#include "lang/IniFile.h"
#include "platform/Platform.h"
#include "transport/CameraGet.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <set>

namespace imagecache {

namespace {

std::mutex& StateLock() {
    static std::mutex m;
    return m;
}
std::string gCacheDir;
TLimits gLimits;
// Images this process installed or reused: a batch's later cameras still need them, so pruning
// leaves them to a later run.
std::set<std::string> gInUse;

void MarkInUse(const std::string& imagePath) {
    std::lock_guard g(StateLock());
    gInUse.insert(imagePath);
}

bool InUse(const std::string& imagePath) {
    std::lock_guard g(StateLock());
    return gInUse.count(imagePath) != 0;
}

// Ours, no link, and no one else may write into it (images are read from here and uploaded).
bool UsableFolder(const std::string& dir) {
    std::string path = dir.size() > 1 && dir.back() == '/' ? dir.substr(0, dir.size() - 1) : dir;
    std::string parent = path.substr(0, path.rfind('/') + 1);
    if (!parent.empty() && !ForceDir(parent)) return false;
    mkdir(path.c_str(), 0700);
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 022) == 0;
}

std::string WithSlash(std::string d) {
    return d.empty() || d.back() == '/' ? d : d + "/";
}

std::string ReadRecord(const std::string& imagePath);

constexpr const char* kLockSuffix = ".lock";
constexpr const char* kRecordSuffix = ".verified";
constexpr const char* kScratchSuffix = ".unpack";
constexpr size_t kRecordLimit = 4096;

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string RecordText(const std::string& md5, const std::string& sha256, const std::string& folder,
                       uint64_t size) {
    std::string text = "MD5=" + LowerCase(md5) + "\n";
    if (!sha256.empty()) text += "SHA256=" + LowerCase(sha256) + "\n";
    return text + "Folder=" + folder + "\nSize=" + std::to_string(size) + "\n";
}

uint64_t PlainFileSize(const std::string& path, bool& plain) {
    struct stat st {};
    plain = lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    return plain ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string ReadRecord(const std::string& imagePath) {
    platform::TFd fd(open(RecordPath(imagePath).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) return {};
    char buf[kRecordLimit];
    ssize_t n = platform::ReadSome(fd.Get(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string RecordValue(const std::string& record, const std::string& key) {
    size_t at = record.find(key + "=");
    if (at == std::string::npos || (at && record[at - 1] != '\n')) return {};
    at += key.size() + 1;
    return record.substr(at, record.find('\n', at) - at);
}

// The lock of an image, taken without waiting: false while a session prepares it.
bool TryLock(const std::string& imagePath, platform::TFd& fd) {
    fd.Reset(open((imagePath + kLockSuffix).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    return fd.Valid() && flock(fd.Get(), LOCK_EX | LOCK_NB) == 0;
}

void RemoveImage(const std::string& imagePath) {
    Forget(imagePath);
    unlink(imagePath.c_str());
}

} // namespace

std::string CacheDir() {
    std::string dir;
    {
        std::lock_guard g(StateLock());
        dir = gCacheDir;
    }
    if (dir.empty()) {
        std::string base = platform::CacheDataDir();
        if (!base.empty()) dir = base + "ipcam-upgrade/";
    }
    if (!dir.empty() && UsableFolder(dir)) return dir;
    try {
        return platform::PrivateTempDir();
    } catch (const platform::TPlatformError&) {
        return {};
    }
}

void SetCacheDir(const std::string& dir) {
    std::lock_guard g(StateLock());
    gCacheDir = WithSlash(dir);
}

void SetLimits(const TLimits& limits) {
    std::lock_guard g(StateLock());
    gLimits = limits;
}

TLimits Limits() {
    std::lock_guard g(StateLock());
    return gLimits;
}

std::vector<TCachedImage> List(const std::string& dir) {
    std::vector<TCachedImage> images;
    std::string d = WithSlash(dir);
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(d.c_str()), closedir);
    if (!folder) return images;
    while (dirent* e = readdir(folder.get())) {
        std::string name = e->d_name;
        if (!EndsWith(name, kRecordSuffix) || name.size() == std::string(kRecordSuffix).size()) continue;
        TCachedImage image;
        image.Path = d + name.substr(0, name.size() - std::string(kRecordSuffix).size());
        bool plain = false;
        image.Size = PlainFileSize(image.Path, plain);
        std::string record = ReadRecord(image.Path);
        if (!plain || record.empty()) continue;
        image.MD5 = RecordValue(record, "MD5");
        image.Folder = RecordValue(record, "Folder");
        struct stat st {};
        if (lstat(RecordPath(image.Path).c_str(), &st) == 0) image.LastUsed = st.st_mtime;
        images.push_back(image);
    }
    std::sort(images.begin(), images.end(), [](const TCachedImage& a, const TCachedImage& b) {
        return a.LastUsed != b.LastUsed ? a.LastUsed > b.LastUsed : a.Path < b.Path;
    });
    return images;
}

void Used(const std::string& imagePath) {
    MarkInUse(imagePath);
    platform::TFd fd(open(RecordPath(imagePath).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Valid()) futimens(fd.Get(), nullptr);
}

void Prune(const std::string& dir, const TLimits& limits, const std::string& keep) {
    size_t count = 0;
    uint64_t bytes = 0;
    for (const TCachedImage& image : List(dir)) {
        bool kept = image.Path == keep || InUse(image.Path);
        if (!kept) {
            bool within = (limits.MaxImages == 0 || count < limits.MaxImages) &&
                          (limits.MaxBytes == 0 || bytes + image.Size <= limits.MaxBytes);
            platform::TFd lock;
            // An image a session prepares right now is that session's; it is looked at next time.
            kept = within || !TryLock(image.Path, lock);
            if (!kept) RemoveImage(image.Path);
        }
        if (kept) {
            ++count;
            bytes += image.Size;
        }
    }
}

void ClearInUse() {
    std::lock_guard g(StateLock());
    gInUse.clear();
}

size_t Clean(const std::string& dir) {
    size_t removed = 0;
    for (const TCachedImage& image : List(dir)) {
        platform::TFd lock;
        if (!TryLock(image.Path, lock)) continue;
        RemoveImage(image.Path);
        ++removed;
    }
    // Leftovers of sessions that ended badly: scratch folders and partial downloads whose
    // image is not being prepared.
    std::string d = WithSlash(dir);
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(d.c_str()), closedir);
    std::vector<std::string> names;
    for (dirent* e = folder ? readdir(folder.get()) : nullptr; e; e = readdir(folder.get()))
        names.push_back(e->d_name);
    for (const std::string& name : names) {
        if (EndsWith(name, kScratchSuffix)) {
            platform::TFd lock;
            if (TryLock(d + name.substr(0, name.size() - std::string(kScratchSuffix).size()), lock))
                DeleteDir(d + name, true);
        }
    }
    return removed;
}

TImageLock::TImageLock(const std::string& imagePath) {
    std::string path = imagePath + kLockSuffix;
    FFd.Reset(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!FFd.Valid()) return;
    // The holder is downloading or unpacking, each bounded by its own time-outs.
    while (flock(FFd.Get(), LOCK_EX) != 0)
        if (errno != EINTR) {
            FFd.Reset();
            return;
        }
}

std::string RecordPath(const std::string& imagePath) {
    return imagePath + kRecordSuffix;
}

std::string ScratchDir(const std::string& imagePath) {
    return imagePath + kScratchSuffix + "/";
}

bool IsVerified(const std::string& imagePath, const std::string& md5, const std::string& folder,
                const std::string& sha256) {
    bool plain = false;
    uint64_t size = PlainFileSize(imagePath, plain);
    if (!plain) return false;
    return ReadRecord(imagePath) == RecordText(md5, sha256, folder, size);
}

void Forget(const std::string& imagePath) {
    unlink(RecordPath(imagePath).c_str());
}

bool Install(const std::string& unpacked, const std::string& imagePath, const std::string& md5,
             const std::string& folder, const std::string& sha256) {
    bool plain = false;
    uint64_t size = PlainFileSize(unpacked, plain);
    if (!plain || !ReplaceFile(unpacked, imagePath)) return false;
    if (!WriteFileAtomically(RecordPath(imagePath), RecordText(md5, sha256, folder, size), 0600))
        return false;
    // Pruned at the start of a run, never under a batch whose later cameras need the images.
    MarkInUse(imagePath);
    return true;
}

bool CopyImage(const std::string& from, const std::string& to) {
    platform::TFd in(open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    platform::TFd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!in.Valid() || !out.Valid()) return false;
    std::vector<char> buf(size_t{1} << 20);
    for (;;) {
        ssize_t n = platform::ReadSome(in.Get(), buf.data(), buf.size());
        if (n == 0) return true;
        if (n < 0 || !WriteAll(out.Get(), buf.data(), static_cast<size_t>(n))) {
            unlink(to.c_str());
            return false;
        }
    }
}

bool IsOwnFileName(const std::string& name) {
    std::string n = LowerCase(name);
    if (n.empty() || n[0] == '.') return true; // dot names: ".", "..", partial downloads
    if (n == "firmware.ini") return true;
    std::string exe = platform::ExePath();
    if (n == LowerCase(exe.substr(exe.rfind('/') + 1))) return true; // the language folder
    for (const char* tail : {kLockSuffix, kRecordSuffix, kScratchSuffix})
        if (EndsWith(n, tail)) return true;
    return false;
}

} // namespace imagecache
