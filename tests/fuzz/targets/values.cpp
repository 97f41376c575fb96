// The value readers of camera pages: the status CGI, appver.js and the device-control library's
// CGI texts. The input is a key, a zero byte, then the page.
#include "transport/DeviceControlLibrary.h"
#include "upgrade/UpgradeObject.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t zero = all.find('\0');
    std::string key = zero == std::string::npos ? "sys_ver" : all.substr(0, zero);
    std::string body = zero == std::string::npos ? all : all.substr(zero + 1);
    (void)StatusValue(body, key, '"');
    (void)StatusValue(body, key, '\'');
    (void)TTZoltSeries::CgiValue(body, key);
    return 0;
}
