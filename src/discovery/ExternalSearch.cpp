#include "ExternalSearch.h"

#include "DVSNET.h"
#include "SearchReplies.h"
#include "base/Files.h"
#include "platform/Platform.h"

#include <dlfcn.h>

TFind_Hisi::TFind_Hisi() : TFind_Hisi(LibraryPath()) {}

TFind_Hisi::TFind_Hisi(const std::string& path) {
    // dlopen of "" would hand back the program itself, and of a relative name a file of the
    // working folder.
    FPathUnknown = path.empty() || path[0] != '/';
    if (!FPathUnknown) FModule = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

TFind_Hisi::~TFind_Hisi() {
    FLive = false;
    if (!FModule) return;
    if (auto stop = reinterpret_cast<DVSNET_StopSearch_t>(dlsym(FModule, "DVSNET_StopSearch"))) stop();
    dlclose(FModule);
}

std::string TFind_Hisi::LibraryPath() {
    return LibraryPath(platform::ExeDir());
}

std::string TFind_Hisi::LibraryPath(const std::string& exeDir) {
    if (exeDir.empty() || exeDir[0] != '/') return {};
    // Beside the program in a build folder; installed, in the package's private library folder.
    std::string beside = exeDir + "909/DVSNETClient.so";
    std::string installed = exeDir + IPCAM_PRIVATE_FROM_BIN + "909/DVSNETClient.so";
    return FileExists(beside) || !FileExists(installed) ? beside : installed;
}

bool TFind_Hisi::Search() {
    if (!FModule) return false;
    auto search = reinterpret_cast<DVSNET_SearchServers_t>(dlsym(FModule, "DVSNET_SearchServers"));
    return search && search(3000, 1, &TFind_Hisi::Found, this, 0) == 0;
}

void TFind_Hisi::Found(intptr_t, const char* name, intptr_t, const char* ip, const unsigned char* mac6,
                       intptr_t port, intptr_t port2, const char* mask, const char* gateway,
                       const char* auxText, const char* dns, intptr_t auxWord, intptr_t auxValue,
                       intptr_t dhcp, void* context) {
    auto* self = static_cast<TFind_Hisi*>(context);
    if (!self || !self->FLive) return;
    auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
    TDevInfo r;
    r.Reserved = 0;
    r.DevType = StandardCameraType;
    r.DevName = text(name);
    r.IP = text(ip);
    unsigned char none[6] = {};
    r.MAC = HexBytes(mac6 ? mac6 : none, 6);
    r.HttpPort = static_cast<uint16_t>(port);
    r.Port2 = static_cast<uint16_t>(port2);
    r.Mask = text(mask);
    r.Gateway = text(gateway);
    r.AuxText = text(auxText);
    r.DNS1 = text(dns);
    r.AuxWord = static_cast<uint16_t>(auxWord);
    r.AuxValue = static_cast<int32_t>(auxValue);
    r.DHCP = dhcp == 1 ? 1 : 2;
    if (self->FNotify) self->FNotify(r);
}
