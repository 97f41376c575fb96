#include "Files.h"

#include "platform/Fd.h"
#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <random>

bool IsDir(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

struct TDirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

// Empties the folder open as fd, never following a symbolic link: a link is removed as a link,
// so nothing outside the folder is touched.
void EmptyDirAt(platform::TFd folder) {
    std::unique_ptr<DIR, TDirCloser> dir(fdopendir(folder.Get()));
    if (!dir) return;
    int fd = folder.Release(); // the stream owns it now
    while (dirent* e = readdir(dir.get())) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            platform::TFd sub(openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub.Valid()) {
                fchmod(sub.Get(), st.st_mode | S_IRWXU);
                EmptyDirAt(std::move(sub));
            }
            unlinkat(fd, name.c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(fd, name.c_str(), 0);
        }
    }
}

} // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsPlainFile(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool WriteAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool ReadWholeFile(const std::string& Path, std::string& Content) {
    Content.clear();
    platform::TFd fd(open(Path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return false;
    char buf[65536];
    for (;;) {
        ssize_t n = platform::ReadSome(fd.Get(), buf, sizeof buf);
        if (n < 0) return false;
        if (n == 0) return true;
        Content.append(buf, static_cast<size_t>(n));
    }
}

bool WriteFileAtomically(const std::string& Path, std::string_view Content, unsigned Mode) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    std::string tmp = Path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(rng() % 1000000007ULL);
    platform::TFd fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, Mode));
    if (!fd.Valid()) return false;
    bool ok = WriteAll(fd.Get(), Content.data(), Content.size()) && fsync(fd.Get()) == 0;
    ok = fd.Reset() == 0 && ok;
    if (ok && rename(tmp.c_str(), Path.c_str()) == 0) return true;
    unlink(tmp.c_str());
    return false;
}

unsigned UmaskFileMode() {
    // Read where the kernel shows it (Linux 4.7 and later): setting the umask to learn it would
    // change it for every thread for a moment.
    std::string status;
    if (ReadWholeFile("/proc/self/status", status))
        if (size_t at = status.find("\nUmask:"); at != std::string::npos)
            return 0666u & ~static_cast<unsigned>(std::strtoul(status.c_str() + at + 7, nullptr, 8));
    mode_t mask = umask(022);
    umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

bool IsTrustedFolder(const std::string& Dir, std::string& why) {
    std::string d = Dir;
    while (d.size() > 1 && d.back() == '/')
        d.pop_back();
    struct stat st {};
    if (lstat(d.c_str(), &st) != 0)
        why = "cannot be read";
    else if (S_ISLNK(st.st_mode))
        why = "is a link";
    else if (!S_ISDIR(st.st_mode))
        why = "is no folder";
    else if (st.st_uid != 0 && st.st_uid != geteuid())
        why = "belongs to another user";
    else if ((st.st_mode & 022) != 0)
        why = "other users can write to it";
    else
        return true;
    return false;
}

bool ForceDir(const std::string& Dir) {
    if (Dir.empty() || IsDir(Dir)) return true;
    for (size_t pos = Dir.find('/', 1); pos != std::string::npos; pos = Dir.find('/', pos + 1))
        mkdir(Dir.substr(0, pos + 1).c_str(), 0777);
    if (Dir.back() != '/') mkdir(Dir.c_str(), 0777);
    return IsDir(Dir);
}

bool DeleteDir(const std::string& Dir, bool RemoveSelf) {
    if (Dir.empty()) return true;
    std::string d = Dir;
    while (d.size() > 1 && d.back() == '/')
        d.pop_back();
    struct stat st {};
    if (lstat(d.c_str(), &st) != 0) return true;
    if (S_ISLNK(st.st_mode)) {
        // A link given as the folder is taken away as a link; its target stays as it is.
        if (RemoveSelf) unlink(d.c_str());
        return true;
    }
    EmptyDirAt(platform::TFd(open(d.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
    if (RemoveSelf) rmdir(d.c_str());
    return true;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EISDIR && errno != ENOTEMPTY && errno != EEXIST) return false;
    DeleteDir(to, true);
    return rename(from.c_str(), to.c_str()) == 0;
}

std::string TempDir() {
    try {
        return platform::PrivateTempDir();
    } catch (const platform::TPlatformError& e) {
        platform::MessageBox(e.what(), "错误", platform::MB_ICONERROR);
        throw;
    }
}

std::string AppPath() {
    std::string p = platform::ExePath();
    auto pos = p.rfind('/');
    return pos == std::string::npos ? std::string() : p.substr(0, pos + 1);
}

std::string RoamingDir(bool Create) {
    std::string p = platform::RoamingDataDir();
    if (p.empty()) return p;
    if (p.back() != '/') p += '/';
    if (Create) ForceDir(p);
    return p;
}

std::string UserDataDir(bool Create) {
    std::string p = RoamingDir(false);
    if (p.empty()) return p;
    std::string module = platform::ExePath();
    auto slash = module.rfind('/');
    std::string name = slash == std::string::npos ? module : module.substr(slash + 1);
    if (name.size() > 4 && name[name.size() - 4] == '.') name.resize(name.size() - 4);
    // Programs here rarely carry an extension; the folder must end with a separator all the same.
    p += name + "/";
    if (Create) ForceDir(p);
    return p;
}

void SplitText(const std::string& Text, const std::string& Separator, TStringList& List) {
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

void FindFiles(TStringList& List, const std::string& Dir, const std::string& Masks, bool NoDuplicates) {
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
