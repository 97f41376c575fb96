#include "Base64.h"

#include <algorithm>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void EncodeGroup(std::string& out, const unsigned char* p, size_t n) {
    unsigned v = static_cast<unsigned>(p[0]) << 16;
    if (n > 1) v |= static_cast<unsigned>(p[1]) << 8;
    if (n > 2) v |= p[2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[v & 63] : '=';
}

std::string Encode(std::string_view data, bool breakLines) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4 + (breakLines ? data.size() / 57 * 2 : 0));
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    for (size_t i = 0; i < data.size(); i += 3) {
        if (breakLines && i > 0 && i % 57 == 0) out += "\r\n";
        EncodeGroup(out, p + i, std::min<size_t>(3, data.size() - i));
    }
    return out;
}

} // namespace

std::string Base64Encode(std::string_view data) {
    return Encode(data, true);
}
std::string Base64EncodeLine(std::string_view data) {
    return Encode(data, false);
}
