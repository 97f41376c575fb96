#include "Output.h"

#include "base/DisplayWidth.h"
#include "base/Text.h"

#include <algorithm>
#include <ostream>

std::string JsonString(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string valid = ValidUtf8(text);
    std::string out = "\"";
    for (unsigned char c : valid) {
        switch (c) {
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
            if (c < 0x20 || c == 0x7F) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string CsvField(std::string_view text) {
    std::string valid = ValidUtf8(text);
    if (valid.find_first_of(",\"\r\n") == std::string::npos) return valid;
    std::string out = "\"";
    for (char c : valid) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

void PrintColumns(const std::vector<std::vector<std::string>>& rows, std::ostream& out) {
    std::vector<size_t> width;
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            if (width.size() <= i) width.push_back(0);
            width[i] = std::max(width[i], DisplayWidth(row[i]));
        }
    // Widths in terminal columns, not bytes: a wide character takes two, so names in Chinese or
    // Japanese keep the columns straight.
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? PadToColumns(row[i], width[i] + 2) : row[i];
        out << line << "\n";
    }
}
