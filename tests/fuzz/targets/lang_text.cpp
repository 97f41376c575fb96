// The decoder of language-file values: every code page, and the escapes. Whatever the bytes, the
// text that comes out is UTF-8.
#include "base/Text.h"
#include "lang/Charset.h"
#include "lang/Lang.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* pages[] = {"CP936", "CP932", "CP950", "CP1252", "UTF-8"};
    if (size == 0) return 0;
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string text = ToUtf8(bytes, pages[data[0] % 5]);
    if (!IsValidUtf8(text) || !IsValidUtf8(ValidUtf8(bytes))) std::abort();
    (void)DecodeLangEscapes(text);
    return 0;
}
