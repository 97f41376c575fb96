#include "Output.h"

#include "base/DisplayWidth.h"
#include "base/Text.h"

#include <algorithm>
#include <ostream>

std::string CsvField(std::string_view text) {
    // Shown as the table shows it; a cell a spreadsheet would take for a formula gets a leading
    // apostrophe, which spreadsheets read as "text follows".
    std::string shown = EscapeControls(text);
    if (!shown.empty() && std::string_view("=+-@\t\r").find(shown[0]) != std::string_view::npos)
        shown.insert(0, 1, '\'');
    if (shown.find_first_of(",\"\r\n") == std::string::npos) return shown;
    std::string out = "\"";
    for (char c : shown) {
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
