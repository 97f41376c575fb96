// Machine-readable output of the command line: JSON strings that are always valid UTF-8 with
// control characters escaped, and RFC 4180 CSV fields.
#pragma once

#include <string>
#include <string_view>

std::string JsonString(std::string_view text);
std::string CsvField(std::string_view text);
