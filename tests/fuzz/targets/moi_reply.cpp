// A MO_I reply to the search.
#include "discovery/SearchReplies.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDevInfo r;
    if (ParseMoiReply(std::string_view(reinterpret_cast<const char*>(data), size), r) &&
        (r.MAC.size() > 13 || r.DevName.size() > 3 * 21 || r.DdnsHost.size() > 65))
        std::abort();
    return 0;
}
