// The operating-system layer: everything the rest of the program needs from the platform goes
// through here, so that waits can be scaled in tests and the GUI can install its own hooks.
#pragma once

#include "Fd.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

class TPlatformError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Message-box flags and results, numbered as the desktop platform numbers them.
enum : int {
    MB_OK = 0,
    MB_OKCANCEL = 1,
    MB_YESNO = 4,
    MB_ICONERROR = 16,
    MB_ICONQUESTION = 32,
    MB_ICONWARNING = 48,
    MB_ICONINFORMATION = 64,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// ---- time ----
// Factor applied to every fixed wait and time-out: IPCAM_TIME_SCALE, default 1.
double TimeScale();
void SetTimeScale(double scale);
// ms scaled by the time scale; a positive wait never becomes 0 (0 means "no limit" to many APIs).
int64_t Scaled(int64_t ms);
// A time-out: ms scaled, but never below a quarter second (or ms itself when that is less), so
// that a small time scale speeds up the waits without making a loaded machine miss answers.
int64_t Timeout(int64_t ms);
inline constexpr int64_t MinTimeout = 250;
// Sleeps ms scaled; floorMs keeps a scaled period from becoming shorter than that (never longer
// than ms itself), for periods in which something else must get its turn.
void Sleep(int64_t ms, int64_t floorMs = 0);

// ---- folders ----
// The private per-user temporary folder, ending with '/'. Throws TPlatformError when the folder
// exists but is unsafe (a symlink, another owner, open to others) or cannot be made.
std::string PrivateTempDir();
std::string ExePath();
std::string ExeDir();
// $XDG_CONFIG_HOME, else ~/.config, ending with '/'; empty when neither can be found.
std::string RoamingDataDir();
// $XDG_STATE_HOME, else ~/.local/state; $XDG_CACHE_HOME, else ~/.cache: ending with '/', empty
// when neither can be found. A relative value is ignored, as the XDG rules say.
std::string StateDataDir();
std::string CacheDataDir();

// ---- locale ----
// The OEM code page the locale (LC_ALL, LC_CTYPE, LANG) stands for: 936, 950, 932, 863, 1145,
// 1144, else 437.
int OemCodePage();

// ---- single instance ----
// An exclusive lock on a file in the private temporary folder; the kernel lets go of it when the
// process dies, however it dies.
class TInstanceGuard {
  public:
    TInstanceGuard() = default;
    ~TInstanceGuard() { Release(); }
    TInstanceGuard(const TInstanceGuard&) = delete;
    TInstanceGuard& operator=(const TInstanceGuard&) = delete;
    // True when no other process holds the guard of that name; this one then holds it. Throws
    // TPlatformError when the lock file cannot be opened at all.
    bool TryAcquire(const std::string& name);
    void Release();
    bool Held() const { return FFd.Valid(); }

  private:
    TFd FFd;
};

// ---- sockets ----
// Ignores SIGPIPE, so that a peer that goes away gives an error instead of ending the program.
// Throws TPlatformError if that cannot be done.
void StartSockets();
void StopSockets();
// An IPv4 socket of the type (SOCK_STREAM, SOCK_DGRAM), closed on exec, with SO_REUSEADDR and
// SO_BROADCAST as asked; -1 when none can be made.
int OpenSocket(int type, bool reuseAddress = false, bool broadcast = false);
// Binds fd to address:port, "" meaning all local addresses; false (errno set) when it cannot.
bool BindIPv4(int fd, const std::string& address, int port);

// ---- UI hand-over ----
// The hook gets the work and the caller's abandon flag (may be null).
using TSyncHook = std::function<void(const std::function<void()>&, const std::atomic<bool>* abandon)>;
// Runs fn "on the main thread" and waits. Without an installed hook, a global mutex serialises
// all hand-overs, which is what the CLI and the tests need.
// With abandon set, a hand-over that has not started when the flag turns true is dropped and the
// call returns: a thread that is being stopped never waits for a main thread that is stopping it.
void Synchronize(const std::function<void()>& fn, const std::atomic<bool>* abandon = nullptr);
void SetSynchronizeHook(TSyncHook hook);

using TMessageBoxHook = std::function<int(const std::string& text, const std::string& caption, int flags)>;
int MessageBox(const std::string& text, const std::string& caption, int flags);
void SetMessageBoxHook(TMessageBoxHook hook);

using TBusyCursorHook = std::function<void(bool)>;
void SetBusyCursor(bool busy);
void SetBusyCursorHook(TBusyCursorHook hook);

} // namespace platform
