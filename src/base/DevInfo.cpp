#include "DevInfo.h"

std::string NormalizeMac(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '-' || c == ':') continue;
        if (c == ' ') c = '0';
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        out += c;
    }
    return out;
}

std::string RowMac(const TDevInfo& row) {
    return row.MACHex.empty() ? NormalizeMac(row.MAC) : row.MACHex;
}
