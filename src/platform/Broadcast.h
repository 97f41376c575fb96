// Where search datagrams go: IPCAM_BROADCAST_ADDR when set (tests and demos set it to loopback),
// else the limited broadcast and each interface's directed broadcast.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One IPv4 interface as the system lists it (address and mask in host order).
struct TInterfaceAddress {
    std::string Name;
    uint32_t Address = 0, Mask = 0;
    bool Up = false, Loopback = false, CanBroadcast = false;
};
std::vector<TInterfaceAddress> LocalInterfaces();
// The directed broadcast address of each interface that is up, not loopback and can broadcast
// (only the named one when only is not empty), each once.
std::vector<std::string> DirectedBroadcasts(const std::vector<TInterfaceAddress>& interfaces,
                                            const std::string& only);
// Restricts the per-interface broadcasts to one interface ("" for all).
void SetSearchInterface(const std::string& name);

// Sends every search datagram to this one address instead ("" ends that): asking one camera
// what it is, unicast, without a word to the rest of the LAN.
void SetSearchTarget(const std::string& address);

// Where every search datagram goes: the search target when one is set, else IPCAM_BROADCAST_ADDR when it is
// set, else the limited broadcast and the directed broadcast of every IPv4 interface that is up and not
// loopback (Linux sends the limited broadcast out of one interface only).
std::vector<std::string> BroadcastTargets();
} // namespace platform
