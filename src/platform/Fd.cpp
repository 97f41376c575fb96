#include "Fd.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace platform {

int TFd::Reset(int fd) {
    int rc = 0;
    if (FFd >= 0) rc = close(FFd);
    FFd = fd;
    return rc;
}

ssize_t ReadSome(int fd, void* buf, size_t n) {
    for (;;) {
        ssize_t r = read(fd, buf, n);
        if (r >= 0 || errno != EINTR) return r;
    }
}

ssize_t RecvSome(int fd, void* buf, size_t n, int flags) {
    for (;;) {
        ssize_t r = recv(fd, buf, n, flags);
        if (r >= 0 || errno != EINTR) return r;
    }
}

int WaitFd(int fd, short events, int64_t ms) {
    using TClock = std::chrono::steady_clock;
    auto end = TClock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    pollfd p{fd, events, 0};
    for (;;) {
        int wait = -1;
        if (ms >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
            if (left < 0) left = 0;
            wait = static_cast<int>(left > 1000000 ? 1000000 : left);
        }
        int r = poll(&p, 1, wait);
        if (r > 0) return 1;
        if (r == 0) {
            if (ms >= 0 && TClock::now() >= end) return 0;
            continue;
        }
        if (errno != EINTR) return -1;
    }
}

} // namespace platform
