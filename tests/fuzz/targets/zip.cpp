// A package archive from the firmware server, unpacked into a scratch folder: nothing may land
// outside it, whatever the archive says.
#include "base/Files.h"
#include "upgrade/PackageFiles.h"

#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = [] {
        char tmpl[] = "/tmp/ipcam-fuzz-zip-XXXXXX";
        const char* dir = mkdtemp(tmpl);
        if (!dir) std::abort();
        return std::string(dir) + "/";
    }();
    std::string scratch = root + "scratch/";
    DeleteDir(root, false);
    mkdir(scratch.c_str(), 0700);
    int fd = memfd_create("zip", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (write(fd, data, size) == static_cast<ssize_t>(size))
        (void)TUpgradeOpt::UnzipFile("/proc/self/fd/" + std::to_string(fd), scratch + "image.bin");
    close(fd);
    // Only the scratch folder may have been written.
    int entries = 0;
    if (DIR* d = opendir(root.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++entries;
        closedir(d);
    }
    if (entries != 1) std::abort();
    return 0;
}
