// The E series' own search on UDP port 7999: its reply parser and the search window.
#pragma once

#include <map>
#include <string>

inline constexpr int CtpSearchPort = 7999;

struct TCtpSearchRecord {
    std::string DevName;  // 50
    std::string DeviceID; // 40
    std::string IP;       // 16
    std::string Mask;     // 16
    int CtpPort = 0;
    bool DhcpEnabled = false;
    std::string DNS1;    // 16
    std::string DNS2;    // 16
    std::string Gateway; // 16
    std::string Version; // 48
    std::string Mac;     // 17
};
using TCtpSearchList = std::multimap<std::string, TCtpSearchRecord>;

// Applies one line of a search reply to a record.
void ApplyCtpSearchLine(const std::string& line, TCtpSearchRecord& record);
// Parses a whole reply datagram; false when it is empty or does not begin with "REPLY".
bool ParseCtpSearchReply(const std::string& datagram, TCtpSearchRecord& record);

// Sends the search and gathers the cameras that answer for themselves; it ends early once the
// camera Wanted (an address) answered. The count of answers taken.
int SearchCtpCameras(TCtpSearchList& List, const std::string& Wanted = "");

namespace ctp {
constexpr int64_t SearchWait = 300;
constexpr int64_t SearchLimit = 3000; // the whole search window, however many answers come
} // namespace ctp
