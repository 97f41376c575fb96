// The stand-in for the external search library: an ONVIF WS-Discovery search, so that the
// external slot of the search finds standard cameras of any maker. One bounded search at a time,
// on a thread of its own; the stop returns only when no callback runs or can start.
#include "WsDiscovery.h"
#include "discovery/DVSNET.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#define DVSNET_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex gLock;
std::thread gSearch;
std::atomic<bool> gStop{false};

// The waits follow the program's time scale, so that tests run fast; never below a quarter second.
int64_t ScaledMs(int64_t ms) {
    double scale = 1;
    if (const char* s = std::getenv("IPCAM_TIME_SCALE"); s && *s) scale = std::atof(s);
    if (!(scale > 0)) scale = 1;
    return std::max<int64_t>(static_cast<int64_t>(static_cast<double>(ms) * scale),
                             std::min<int64_t>(ms, 250));
}

void Run(int64_t timeMs, DVSNET_FoundServer found, void* context) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    // IPCAM_BROADCAST_ADDR replaces the discovery group whenever it is set.
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(3702);
    const char* target = std::getenv("IPCAM_BROADCAST_ADDR");
    if (!target || !*target) target = "239.255.255.250";
    std::mt19937_64 rng{std::random_device{}()};
    char id[40];
    std::snprintf(id, sizeof id, "%08llx-0000-4000-8000-%012llx",
                  static_cast<unsigned long long>(rng() & 0xffffffff),
                  static_cast<unsigned long long>(rng() & 0xffffffffffffULL));
    std::string probe = wsd::Probe(id);
    if (inet_pton(AF_INET, target, &to.sin_addr) == 1)
        sendto(s, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::set<std::string> reported;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(timeMs));
    std::string buf(wsd::MaxMessage, '\0');
    while (!gStop) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) break;
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 50))) <= 0) continue;
        ssize_t n = recv(s, buf.data(), buf.size(), MSG_TRUNC);
        if (n <= 0 || static_cast<size_t>(n) > buf.size()) continue;
        for (const wsd::TProbeMatch& m :
             wsd::ParseProbeMatches(std::string_view(buf.data(), static_cast<size_t>(n)))) {
            if (gStop || !reported.insert(m.Endpoint).second) continue;
            found(0, m.Name.c_str(), 0, m.Host.c_str(), m.Id, m.Port, 0, "", "", "", "", 0, 0, 0, context);
        }
    }
    close(s);
}

} // namespace

DVSNET_EXPORT int DVSNET_SearchServers(intptr_t timeMs, intptr_t, DVSNET_FoundServer found, void* context,
                                       intptr_t) {
    if (!found || timeMs <= 0) return 1;
    std::lock_guard g(gLock);
    gStop = true;
    if (gSearch.joinable()) gSearch.join();
    gStop = false;
    try {
        gSearch = std::thread(Run, static_cast<int64_t>(timeMs), found, context);
    } catch (...) {
        return 2;
    }
    return 0;
}

DVSNET_EXPORT void DVSNET_StopSearch(void) {
    std::lock_guard g(gLock);
    gStop = true;
    if (gSearch.joinable()) gSearch.join();
}
