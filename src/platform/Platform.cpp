#include "Platform.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

double ReadScaleFromEnv() {
    const char* s = std::getenv("IPCAM_TIME_SCALE");
    if (!s || !*s) return 1.0;
    char* end = nullptr;
    double v = std::strtod(s, &end);
    if (end == s || !std::isfinite(v) || v <= 0) return 1.0;
    return v;
}

std::atomic<double>& ScaleCell() {
    static std::atomic<double> scale{ReadScaleFromEnv()};
    return scale;
}

std::mutex& HookLock() {
    static std::mutex m;
    return m;
}
TSyncHook& SyncHook() {
    static TSyncHook hook;
    return hook;
}
TMessageBoxHook& BoxHook() {
    static TMessageBoxHook hook;
    return hook;
}
TBusyCursorHook& CursorHook() {
    static TBusyCursorHook hook;
    return hook;
}

std::string WithSlash(std::string s) {
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

} // namespace

double TimeScale() {
    return ScaleCell().load();
}
void SetTimeScale(double scale) {
    ScaleCell().store(scale > 0 && std::isfinite(scale) ? scale : 1.0);
}

int64_t Scaled(int64_t ms) {
    if (ms <= 0) return ms;
    double v = std::round(static_cast<double>(ms) * TimeScale());
    if (v < 1) return 1;
    if (v > static_cast<double>(INT64_MAX / 2)) return INT64_MAX / 2;
    return static_cast<int64_t>(v);
}

int64_t Timeout(int64_t ms) {
    return std::max(Scaled(ms), std::min(ms, MinTimeout));
}

void Sleep(int64_t ms, int64_t floorMs) {
    int64_t s = std::max(Scaled(ms), std::min(ms, floorMs));
    if (s > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s));
}

std::string PrivateTempDir() {
    const char* t = std::getenv("TMPDIR");
    std::string base = (t && *t) ? t : "/tmp";
    std::string dir = WithSlash(base) + "ipcam-upgrade-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw TPlatformError("cannot create the temporary folder " + dir + ": " + std::strerror(errno));
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0)
        throw TPlatformError("cannot inspect the temporary folder " + dir + ": " + std::strerror(errno));
    if (S_ISLNK(st.st_mode)) throw TPlatformError("the temporary folder " + dir + " is a symbolic link");
    if (!S_ISDIR(st.st_mode)) throw TPlatformError("the temporary folder " + dir + " is not a folder");
    if (st.st_uid != getuid())
        throw TPlatformError("the temporary folder " + dir + " belongs to another user");
    if (st.st_mode & 077) throw TPlatformError("the temporary folder " + dir + " is open to other users");
    return dir + "/";
}

std::string ExePath() {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string ExeDir() {
    std::string p = ExePath();
    auto pos = p.rfind('/');
    return pos == std::string::npos ? std::string() : p.substr(0, pos + 1);
}

namespace {

std::string XdgDir(const char* variable, const char* underHome) {
    if (const char* x = std::getenv(variable); x && *x == '/') return WithSlash(x);
    const char* home = std::getenv("HOME");
    std::string h = (home && *home) ? home : "";
    if (h.empty()) {
        if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) h = pw->pw_dir;
    }
    if (h.empty()) return {};
    return WithSlash(h) + underHome;
}

} // namespace

std::string RoamingDataDir() {
    return XdgDir("XDG_CONFIG_HOME", ".config/");
}

std::string StateDataDir() {
    return XdgDir("XDG_STATE_HOME", ".local/state/");
}

std::string CacheDataDir() {
    return XdgDir("XDG_CACHE_HOME", ".cache/");
}

int OemCodePage() {
    std::string loc;
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) {
            loc = v;
            break;
        }
    }
    auto is = [&](const char* prefix) {
        size_t n = std::strlen(prefix);
        return loc.compare(0, n, prefix) == 0 &&
               (loc.size() == n || loc[n] == '_' || loc[n] == '.' || loc[n] == '@');
    };
    if (is("zh_CN") || is("zh_SG")) return 936;
    if (is("zh_TW") || is("zh_HK") || is("zh_MO")) return 950;
    if (is("ja")) return 932;
    if (is("fr_CA")) return 863;
    if (is("es")) return 1145;
    if (is("it")) return 1144;
    return 437;
}

bool TInstanceGuard::TryAcquire(const std::string& name) {
    if (FFd.Valid()) return true;
    std::string path = PrivateTempDir() + name + ".lock";
    TFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid()) throw TPlatformError("cannot open " + path + ": " + std::strerror(errno));
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
    FFd = std::move(fd);
    return true;
}

void TInstanceGuard::Release() {
    FFd.Reset();
}

void StartSockets() {
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR) throw TPlatformError("初始化WsaData出错!");
}

void StopSockets() {}

int OpenSocket(int type, bool reuseAddress, bool broadcast) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    if (reuseAddress) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (broadcast) setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    return fd;
}

bool BindIPv4(int fd, const std::string& address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (port < 0 || port > 65535) {
        errno = EINVAL;
        return false;
    }
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (address.empty())
        a.sin_addr.s_addr = htonl(INADDR_ANY);
    else if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        errno = EINVAL;
        return false;
    }
    return bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

void Synchronize(const std::function<void()>& fn, const std::atomic<bool>* abandon) {
    TSyncHook hook;
    {
        std::lock_guard g(HookLock());
        hook = SyncHook();
    }
    if (hook) {
        hook(fn, abandon);
        return;
    }
    static std::recursive_mutex mainThread;
    std::lock_guard g(mainThread);
    fn();
}

void SetSynchronizeHook(TSyncHook hook) {
    std::lock_guard g(HookLock());
    SyncHook() = std::move(hook);
}

int MessageBox(const std::string& text, const std::string& caption, int flags) {
    TMessageBoxHook hook;
    {
        std::lock_guard g(HookLock());
        hook = BoxHook();
    }
    if (hook) return hook(text, caption, flags);
    std::string line = caption + ": " + text + "\n";
    (void)!write(STDERR_FILENO, line.data(), line.size());
    return (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
}

void SetMessageBoxHook(TMessageBoxHook hook) {
    std::lock_guard g(HookLock());
    BoxHook() = std::move(hook);
}

void SetBusyCursor(bool busy) {
    TBusyCursorHook hook;
    {
        std::lock_guard g(HookLock());
        hook = CursorHook();
    }
    if (hook) hook(busy);
}

void SetBusyCursorHook(TBusyCursorHook hook) {
    std::lock_guard g(HookLock());
    CursorHook() = std::move(hook);
}

} // namespace platform
