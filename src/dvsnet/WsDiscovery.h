// WS-Discovery as the stand-in search library speaks it: the Probe for network video
// transmitters, and the reading of ProbeMatches with libxml2: no document type, no entities of
// its own, no network access, bounded in size and count, so a hostile answer costs at most what
// it weighs; the five predefined entities and character references are decoded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wsd {

inline constexpr size_t MaxMessage = 65536;
inline constexpr size_t MaxMatches = 32;
inline constexpr size_t MaxText = 2048;

struct TProbeMatch {
    std::string Endpoint; // the EndpointReference address, usually "urn:uuid:..."
    std::string Name;     // from the scope onvif://www.onvif.org/name/..., percent-decoded
    std::string Host;     // from the first XAddr
    int Port = 0;
    unsigned char Id[6] = {}; // from the endpoint, so that two devices never share it
};

std::string Probe(const std::string& messageId);
// The matches of one ProbeMatches message (none for anything else).
std::vector<TProbeMatch> ParseProbeMatches(std::string_view message);

} // namespace wsd
