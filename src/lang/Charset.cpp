#include "Charset.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

namespace {

struct TIconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

std::string Convert(std::string_view in, const char* to, const char* from, const char* replacement) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::unique_ptr<void, TIconvCloser> guard(cd);
    std::string out;
    out.reserve(in.size() * 2 + 4);
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char buf[1024];
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or a sequence cut at the end: mark it and go on after the bad byte.
            out += replacement;
            ++src;
            --left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

} // namespace

std::string ToUtf8(std::string_view bytes, const char* codePage) {
    // iconv's own UTF-8 reader lets five-byte forms and code points past U+10FFFF through.
    if (std::string_view(codePage) == "UTF-8") return ValidUtf8(bytes);
    for (unsigned char c : bytes)
        if (c >= 0x80) return Convert(bytes, "UTF-8", codePage, "\xEF\xBF\xBD");
    return std::string(bytes);
}

std::string FromUtf8(std::string_view utf8, const char* codePage) {
    return Convert(utf8, codePage, "UTF-8", "?");
}

std::string CameraText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    // Without the converter the text is at least made valid.
    return ValidUtf8(ToUtf8(bytes, "GB18030"));
}
