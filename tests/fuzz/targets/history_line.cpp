// One line of the history file, read back by `history`: a file any program of the user can
// have damaged or cut short.
#include "app/History.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    THistoryEntry e;
    if (ParseHistoryLine(line, e) && (e.IP.empty() || e.Line != line)) std::abort();
    return 0;
}
