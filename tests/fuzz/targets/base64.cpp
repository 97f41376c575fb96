// Base64 of account texts: the length the line breaks give, and no line break in a header value.
#include "transport/Base64.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    std::string lines = Base64Encode(in);
    size_t expected = size == 0 ? 0 : 4 * ((size + 2) / 3) + 2 * ((size - 1) / 57);
    if (lines.size() != expected) std::abort();
    if (Base64EncodeLine(in).find_first_of("\r\n") != std::string::npos) std::abort();
    return 0;
}
