// The text reply to the CTP search, read by the search dialog's rules.
#include "discovery/SearchReplies.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TDevInfo r;
    ParseTextReply(std::string_view(reinterpret_cast<const char*>(data), size), r);
    if (r.HttpPort == 0 && r.DevType != 5) std::abort();
    return 0;
}
