#include "Text.h"

#include <algorithm>

namespace {

// The length of the UTF-8 sequence at s[i], or 0 when none starts there.
size_t SequenceLength(std::string_view s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    unsigned cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 1, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 2, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 3, cp = c & 0x07;
    else
        return 0;
    if (s.size() - i <= n) return 0;
    for (size_t k = 1; k <= n; ++k) {
        unsigned char t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    // Over-long forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n + 1;
}

} // namespace

std::string LowerCase(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string TrimText(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

uint32_t NextCodePoint(std::string_view s, size_t& i) {
    static constexpr unsigned char lead[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    size_t n = SequenceLength(s, i);
    if (n == 0) return static_cast<unsigned char>(s[i++]); // not UTF-8 after all: one byte
    uint32_t cp = static_cast<unsigned char>(s[i]) & lead[n];
    for (size_t k = 1; k < n; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n;
    return cp;
}

bool IsHiddenControl(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

std::string EscapeControls(std::string_view text) {
    // Most texts (addresses, MACs, versions) are plain printable ASCII, which nothing below
    // changes: a large site's thousands of cells skip the copies.
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; }))
        return std::string(text);
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string valid = ValidUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (size_t i = 0; i < valid.size();) {
        size_t at = i;
        uint32_t cp = NextCodePoint(valid, i);
        if (!IsHiddenControl(cp) && cp != '\\') {
            out.append(valid, at, i - at);
            continue;
        }
        out += '\\';
        switch (cp) {
        case '\\':
            out += '\\';
            break;
        case '\r':
            out += 'r';
            break;
        case '\n':
            out += 'n';
            break;
        case '\t':
            out += 't';
            break;
        default:
            if (cp < 0x80) {
                out += 'x';
            } else {
                out += "u";
                out += hex[(cp >> 12) & 15];
                out += hex[(cp >> 8) & 15];
            }
            out += hex[(cp >> 4) & 15];
            out += hex[cp & 15];
        }
    }
    return out;
}

std::string HexText(const unsigned char* bytes, size_t count) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 15];
    }
    return out;
}

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        size_t n = SequenceLength(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string ValidUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        size_t n = SequenceLength(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string JsonString(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string valid = ValidUtf8(text);
    std::string out = "\"";
    for (size_t i = 0; i < valid.size();) {
        size_t at = i;
        uint32_t cp = NextCodePoint(valid, i);
        switch (cp) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            // The code points the table escapes go as JSON escapes; everything else as it is.
            if (IsHiddenControl(cp)) {
                out += "\\u";
                for (int shift : {12, 8, 4, 0})
                    out += hex[(cp >> shift) & 15];
            } else {
                out.append(valid, at, i - at);
            }
        }
    }
    return out + "\"";
}
