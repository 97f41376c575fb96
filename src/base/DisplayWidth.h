// How many terminal columns a UTF-8 text takes, as a terminal draws it: East Asian wide and
// full-width characters take two, combining marks and zero-width characters none, everything
// else one. Bytes that are no UTF-8 count one each (they are shown as one replacement mark).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

size_t DisplayWidth(std::string_view utf8);
// The text followed by blanks up to the given number of columns.
std::string PadToColumns(const std::string& utf8, size_t columns);
