// Machine-readable output of the command line: JSON strings that are always valid UTF-8 with
// control characters escaped (the code points EscapeControls escapes, as JSON escapes), and
// RFC 4180 CSV fields of text shown as the table shows it, never starting a formula.
#pragma once

#include "base/Text.h"

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

std::string CsvField(std::string_view text);

// Rows of cells in columns as wide as their widest cell, two blanks apart; the first row heads them.
void PrintColumns(const std::vector<std::vector<std::string>>& rows, std::ostream& out);
