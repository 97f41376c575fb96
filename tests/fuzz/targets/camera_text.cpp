// Texts from cameras: the GB18030 reading of what is not UTF-8, and the column count of the
// command line's table. Whatever the bytes, the text is UTF-8, valid UTF-8 comes through
// untouched, and a text padded to its width is exactly as wide.
#include "base/DisplayWidth.h"
#include "base/Text.h"
#include "lang/Charset.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string text = CameraText(bytes);
    if (!IsValidUtf8(text)) std::abort();
    if (IsValidUtf8(bytes) && text != bytes) std::abort();
    size_t w = DisplayWidth(text);
    if (w > text.size() * 2) std::abort();
    if (DisplayWidth(PadToColumns(text, w + 3)) != w + 3) std::abort();
    (void)DisplayWidth(bytes);
    return 0;
}
