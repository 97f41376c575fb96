#include "StoredLanguages.h"

#include "BuiltInLanguages.h"
#include "IniFile.h"
#include "Lang.h"
#include "base/Files.h"
#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

std::string ProgramFileName() {
    std::string exe = platform::ExePath();
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? exe : exe.substr(slash + 1);
}

// Takes a shared lock on the folder's lock file. A program that is just deleting the folder holds
// the lock exclusively; once it lets go, the file we locked may be gone, so look again.
platform::TFd LockFolderShared(const std::string& dir) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (!ForceDir(dir)) break;
        std::string path = dir + TfrmStrRes::LockName;
        platform::TFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd.Valid() || flock(fd.Get(), LOCK_SH) != 0) break;
        struct stat held {
        }, now{};
        if (fstat(fd.Get(), &held) == 0 && stat(path.c_str(), &now) == 0 && held.st_ino == now.st_ino &&
            held.st_dev == now.st_dev)
            return fd;
    }
    return platform::TFd();
}

} // namespace

TfrmStrRes::TfrmStrRes() {
    for (const char* code : {"en", "jp"}) {
        TSkinCollectionItem& item = SkinStore1.Store().Add();
        item.SetName(code);
        item.SetData(StoredLanguageFile(code));
    }
    FormCreate();
}

TfrmStrRes::~TfrmStrRes() {
    FormDestroy();
}

void TfrmStrRes::FormCreate() {
    try {
        std::string exe = ProgramFileName();
        FDir = platform::PrivateTempDir() + exe + "/";
        SetLangDir(FDir);
        // A link planted at the folder's name would have us write into, and at exit empty, a
        // folder somewhere else: the link goes, and the folder is made here.
        std::string self = FDir.substr(0, FDir.size() - 1);
        struct stat st {};
        if (lstat(self.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(self.c_str());
        FLock = LockFolderShared(FDir);
        if (!FLock.Valid())
            throw std::runtime_error("Cannot use the folder " + FDir + ": " + std::strerror(errno));
        for (size_t i = 0; i < SkinStore1.Store().Count(); ++i) {
            const TSkinCollectionItem& item = SkinStore1.Store().Items(i);
            std::string path = FDir + LangFileName(item.GetName());
            if (!WriteFileAtomically(path, item.Data()))
                throw std::runtime_error("Cannot create file \"" + path + "\". " + std::strerror(errno));
        }
    } catch (const std::exception& e) {
        // Start-up goes on; lookups then find no file and give empty texts.
        platform::MessageBox(e.what(), ProgramFileName(), platform::MB_ICONERROR);
    }
}

void TfrmStrRes::FormDestroy() {
    if (!FLock.Valid()) return;
    // Only the last user takes the folder away; a program still running keeps its shared lock.
    // The lock file goes last, so that a program starting meanwhile waits on it instead of
    // writing files that are about to be deleted.
    std::string self = FDir.substr(0, FDir.size() - 1);
    struct stat st {};
    bool ownFolder = lstat(self.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (ownFolder && flock(FLock.Get(), LOCK_EX | LOCK_NB) == 0) {
        if (DIR* d = opendir(FDir.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name == "." || name == ".." || name == LockName) continue;
                struct stat st {};
                if (lstat((FDir + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    DeleteDir(FDir + name, true);
                else
                    unlink((FDir + name).c_str());
            }
            closedir(d);
        }
        unlink((FDir + LockName).c_str());
        rmdir(FDir.c_str());
    }
    FLock.Reset();
}
