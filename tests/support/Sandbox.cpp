#include "Sandbox.h"

#include "app/OptionFile.h"
#include "lang/Lang.h"
#include "transport/CameraGet.h"
#include "upgrade/ImageCache.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    f << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

void TSandbox::SetUp() {
    std::string base = std::string(std::getenv("IPCAM_TEST_ROOT") ? std::getenv("IPCAM_TEST_ROOT") : "/tmp");
    std::string pattern = base + "/ipcam-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    Root = pattern + "/";
    setenv("TMPDIR", (Root + "tmp").c_str(), 1);
    mkdir((Root + "tmp").c_str(), 0700);
    setenv("XDG_CONFIG_HOME", (Root + "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (Root + "state").c_str(), 1);
    setenv("XDG_CACHE_HOME", (Root + "cache").c_str(), 1);
    SetSystemOptionDir(Root + "etc/");
    Temp = platform::PrivateTempDir();
    // Images are kept beside the session files unless a test asks for the cache folder.
    imagecache::SetCacheDir(Temp);
    Boxes = std::make_unique<TScriptedMessageBox>();
}

void TSandbox::TearDown() {
    Boxes.reset();
    imagecache::SetCacheDir("");
    TTools::DeleteDir(Root, true);
}

void TLangSandbox::SetUp() {
    TSandbox::SetUp();
    FStore = std::make_unique<TfrmStrRes>();
    SetLanguage("en");
}

void TLangSandbox::TearDown() {
    FStore.reset();
    SetLangDir("");
    TSandbox::TearDown();
}

} // namespace testsupport
