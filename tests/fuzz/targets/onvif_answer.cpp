// A device service's answer (and a request, as the simulator reads it), and the durations in it.
#include "transport/OnvifSoap.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    onvif::TSoapAnswer a = onvif::ParseAnswer(text);
    if (a.Values.size() > onvif::MaxValues + 1) std::abort();
    for (const auto& [k, v] : a.Values)
        if (v.size() > onvif::MaxText + 32 || k.size() > size + 8) std::abort();
    if (a.FaultCode.size() > onvif::MaxText || a.FaultReason.size() > onvif::MaxText) std::abort();
    std::chrono::system_clock::time_point t;
    onvif::CameraUtcTime(a, t);
    onvif::TSoapRequest r = onvif::ParseRequest(text);
    if (r.Username.size() > onvif::MaxText || r.Values.size() > onvif::MaxValues) std::abort();
    int64_t d = onvif::ParseDuration(text.substr(0, 80));
    if (d < -1 || d > 86400000) std::abort();
    (void)onvif::UrlHost(text.substr(0, 300));
    return 0;
}
