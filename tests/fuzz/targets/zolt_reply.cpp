// A camera's answer to the port-8600 search.
#include "transport/DeviceControlLibrary.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDevInfo r;
    if (ParseZoltReply(std::string_view(reinterpret_cast<const char*>(data), size), r) &&
        (r.DevType < 9 || r.DevType > 11 || r.MAC.size() != 17 || r.DevName.size() > 80))
        std::abort();
    return 0;
}
