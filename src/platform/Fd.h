// Ownership of file descriptors and sockets, and the few waits and reads every user of a raw
// descriptor needs: each is written once here so that no caller forgets EINTR or a close.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace platform {

class TFd {
  public:
    TFd() = default;
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : FFd(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    int Release() {
        int fd = FFd;
        FFd = -1;
        return fd;
    }
    // Closes what is held and takes fd; the result of that close (0 when nothing was held).
    int Reset(int fd = -1);

  private:
    int FFd = -1;
};

// read() and recv() that go on after an interrupted call.
ssize_t ReadSome(int fd, void* buf, size_t n);
ssize_t RecvSome(int fd, void* buf, size_t n, int flags);
// Waits with poll (any descriptor number) until fd has one of events or ms pass.
// 1 ready, 0 timed out, -1 an error. A negative ms waits without end.
int WaitFd(int fd, short events, int64_t ms);

} // namespace platform
