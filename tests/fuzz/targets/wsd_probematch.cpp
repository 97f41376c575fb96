// A WS-Discovery answer as the stand-in search library reads it.
#include "dvsnet/WsDiscovery.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto found = wsd::ParseProbeMatches(std::string_view(reinterpret_cast<const char*>(data), size));
    if (found.size() > wsd::MaxMatches) std::abort();
    for (const auto& m : found)
        if (m.Host.empty() || m.Endpoint.empty() || m.Host.size() > size || m.Name.size() > size ||
            m.Port < 0 || m.Port > 65535)
            std::abort();
    return 0;
}
