// What a simulated camera answers to the LAN search: the dialect of its series, built from its
// settings, and the faults the tests need (cut, oversized and malformed answers, floods, silence).
#pragma once

#include "SimCamera.h"

#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct TSearchIdentity {
    TSeries Series = TSeries::H;
    std::string Address;
    int HttpPort = 0;
    std::string SysVersion, AppVersion;
    std::string Name;
    unsigned char Mac[6] = {};
};

// The UDP port a camera of the series answers the search on.
int SearchPortOf(TSeries series);
// The answers to one datagram (none when it is no search of the camera's dialect).
std::vector<std::string> SearchAnswers(const TSearchIdentity& camera, std::string_view datagram);
// The answers with the camera's search faults applied.
std::vector<std::string> WithSearchFaults(std::vector<std::string> answers, const TCameraFaults& faults);

} // namespace sim
