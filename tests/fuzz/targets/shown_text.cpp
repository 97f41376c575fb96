// The one rule for showing texts from the network: whatever the bytes, the shown text is valid
// UTF-8 without a control or a direction override, and a CSV cell never starts a formula.
#include "base/Text.h"
#include "cli/Output.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Whether text holds a code point the rule hides (text is valid UTF-8).
bool HoldsHidden(const std::string& text) {
    for (size_t i = 0; i < text.size();)
        if (IsHiddenControl(NextCodePoint(text, i))) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string shown = EscapeControls(in);
    if (!IsValidUtf8(shown) || HoldsHidden(shown)) std::abort();
    std::string json = JsonString(in);
    if (!IsValidUtf8(json) || HoldsHidden(json) || json.size() < 2 || json.front() != '"' ||
        json.back() != '"')
        std::abort();
    std::string csv = CsvField(in);
    if (!IsValidUtf8(csv) || HoldsHidden(csv.substr(0, csv.find_first_of("\r\n")))) std::abort();
    size_t first = csv.size() > 1 && csv[0] == '"' ? 1 : 0;
    if (first < csv.size() && std::string_view("=+-@\t\r").find(csv[first]) != std::string_view::npos)
        std::abort();
    return 0;
}
