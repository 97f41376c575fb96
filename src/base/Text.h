// Text helpers that every layer uses; this folder includes nothing of the program above it.
#pragma once

#include <string>
#include <string_view>

// ASCII lower case, and a trim of blanks and control characters: the texts are accounts,
// versions, names and paths.
std::string LowerCase(std::string s);
std::string TrimText(const std::string& s);

// Text from a camera or a server made fit for one log line or one table cell: CR, LF, TAB, ESC
// and every other control byte are shown escaped ("\r", "\n", "\t", "\x1B"), so that such a
// text can neither start a forged line nor steer a terminal.
std::string EscapeControls(std::string_view text);

// Each byte as two lower-case hexadecimal digits, without separators.
std::string HexText(const unsigned char* bytes, size_t count);

bool IsValidUtf8(std::string_view bytes);
// The text with every byte sequence that is not UTF-8 (over-long forms, surrogates, code points
// past U+10FFFF, five- and six-byte forms, stray continuation bytes, cut sequences) replaced by
// U+FFFD.
std::string ValidUtf8(std::string_view bytes);
