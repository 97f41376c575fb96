// A reply to the CTP search.
#include "transport/CtpSearch.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TCtpSearchRecord r;
    if (ParseCtpSearchReply(std::string(reinterpret_cast<const char*>(data), size), r)) {
        // The record's fields keep their sizes, whatever the reply says.
        if (r.DevName.size() > 50 || r.DeviceID.size() > 40 || r.IP.size() > 16 || r.Version.size() > 48 ||
            r.Mac.size() > 17 || (r.CtpPort != 81 && (r.CtpPort < 1 || r.CtpPort > 65535) && r.CtpPort != 0))
            std::abort();
    }
    return 0;
}
