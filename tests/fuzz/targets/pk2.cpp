// The checks of a ".pk2" package before its upload.
#include "transport/CtpSession.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = memfd_create("pk2", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        std::string path = "/proc/self/fd/" + std::to_string(fd);
        if (TSocketThread::IsPackageFile(path)) (void)TSocketThread::CheckPackageLimits(path);
    }
    close(fd);
    return 0;
}
