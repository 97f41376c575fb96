// The CSV camera list of a batch, which operators write by hand or export from spreadsheets.
#include "cli/CameraList.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<TCameraRow> rows;
    std::string error;
    bool ok = ParseCameraList(std::string_view(reinterpret_cast<const char*>(data), size), rows, error);
    if (ok != error.empty()) std::abort();
    for (const TCameraRow& r : rows)
        if (r.Camera.IP.empty() || std::string_view("EFHTC").find(r.Camera.Series) == std::string_view::npos)
            std::abort();
    return 0;
}
