#include "Broadcast.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdlib>
#include <mutex>

namespace platform {

std::vector<std::string> DirectedBroadcasts(const std::vector<TInterfaceAddress>& interfaces,
                                            const std::string& only) {
    std::vector<std::string> out;
    for (const TInterfaceAddress& i : interfaces) {
        if (!i.Up || i.Loopback || !i.CanBroadcast || (!only.empty() && i.Name != only)) continue;
        uint32_t b = i.Address | ~i.Mask;
        in_addr a{htonl(b)};
        char buf[INET_ADDRSTRLEN] = {};
        std::string text = inet_ntop(AF_INET, &a, buf, sizeof buf) ? buf : "";
        bool known = false;
        for (const std::string& o : out)
            known = known || o == text;
        if (!known) out.push_back(text);
    }
    return out;
}

namespace {
std::string& OnlyInterface() {
    static std::string name;
    return name;
}
std::mutex& TargetLock() {
    static std::mutex m;
    return m;
}

std::string& OnlyTarget() {
    static std::string address;
    return address;
}
} // namespace

void SetSearchTarget(const std::string& address) {
    std::lock_guard g(TargetLock());
    OnlyTarget() = address;
}

void SetSearchInterface(const std::string& name) {
    OnlyInterface() = name;
}

std::vector<TInterfaceAddress> LocalInterfaces() {
    std::vector<TInterfaceAddress> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_netmask) continue;
        TInterfaceAddress i;
        i.Name = a->ifa_name ? a->ifa_name : "";
        i.Address = ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
        i.Mask = ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
        i.Up = (a->ifa_flags & IFF_UP) != 0;
        i.Loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        i.CanBroadcast = (a->ifa_flags & IFF_BROADCAST) != 0;
        out.push_back(i);
    }
    freeifaddrs(list);
    return out;
}

std::vector<std::string> BroadcastTargets() {
    {
        std::lock_guard g(TargetLock());
        if (!OnlyTarget().empty()) return {OnlyTarget()};
    }
    if (const char* a = std::getenv("IPCAM_BROADCAST_ADDR"); a && *a) return {a};
    std::vector<std::string> out;
    if (OnlyInterface().empty()) out.push_back("255.255.255.255");
    for (std::string& b : DirectedBroadcasts(LocalInterfaces(), OnlyInterface()))
        out.push_back(std::move(b));
    return out;
}

} // namespace platform
