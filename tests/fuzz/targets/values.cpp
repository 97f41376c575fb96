// The value readers of camera pages: the status CGI, appver.js, the device-control library's
// CGI texts and the camera's name on its status page. The input is a key, a zero byte, then the
// page.
#include "transport/CameraIdentity.h"
#include "transport/DeviceControlLibrary.h"
#include "upgrade/UpgradeObject.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t zero = all.find('\0');
    std::string key = zero == std::string::npos ? "sys_ver" : all.substr(0, zero);
    std::string body = zero == std::string::npos ? all : all.substr(zero + 1);
    (void)StatusValue(body, key, '"');
    (void)StatusValue(body, key, '\'');
    (void)TTZoltSeries::CgiValue(body, key);
    if (PageVariable(body, key).size() > body.size()) std::abort();
    // A name is short, trimmed and free of control bytes, whatever the page holds.
    std::string name = StatusPageIdentity(body).Name;
    if (name.size() > MaxCameraName || (!name.empty() && (name.front() == ' ' || name.back() == ' ')))
        std::abort();
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) std::abort();
    return 0;
}
