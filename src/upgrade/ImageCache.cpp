#include "ImageCache.h"

#include "lang/IniFile.h"
#include "platform/Platform.h"
#include "transport/Tools.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace imagecache {

namespace {

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

} // namespace

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
    platform::TFd fd(open(RecordPath(imagePath).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) return false;
    char buf[kRecordLimit];
    ssize_t n = platform::ReadSome(fd.Get(), buf, sizeof buf);
    if (n <= 0) return false;
    return std::string(buf, static_cast<size_t>(n)) == RecordText(md5, sha256, folder, size);
}

void Forget(const std::string& imagePath) {
    unlink(RecordPath(imagePath).c_str());
}

bool Install(const std::string& unpacked, const std::string& imagePath, const std::string& md5,
             const std::string& folder, const std::string& sha256) {
    bool plain = false;
    uint64_t size = PlainFileSize(unpacked, plain);
    if (!plain || !ReplaceFile(unpacked, imagePath)) return false;
    return WriteFileAtomically(RecordPath(imagePath), RecordText(md5, sha256, folder, size), 0600);
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
