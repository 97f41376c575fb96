// Text helpers that every layer uses; this folder includes nothing of the program above it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// ASCII lower case, and a trim of blanks and control characters: the texts are accounts,
// versions, names and paths.
std::string LowerCase(std::string s);
std::string TrimText(const std::string& s);

// The one rule for showing a text from a camera, a server or a file (log lines, table and CSV
// cells, the windows' lists): the text is made valid UTF-8 (ValidUtf8), then CR, LF, TAB, ESC and
// every other C0 control and DEL are shown escaped ("\r", "\n", "\t", "\x1B"), a backslash as
// "\\", and the C1 controls, the bidirectional overrides and isolates and the line and paragraph
// separators as "\u" and four hexadecimal digits ("\u202E"). Such a text can then neither start a
// forged line, nor steer a terminal, nor turn the text around it backwards. UTF-8 in, UTF-8 out:
// a decoder of other character sets goes in front of it.
std::string EscapeControls(std::string_view text);
// Whether a code point is one that EscapeControls shows escaped (a backslash is not).
bool IsHiddenControl(uint32_t codePoint);
// The code point that starts at validUtf8[i], with i moved past it; the text must be valid UTF-8.
uint32_t NextCodePoint(std::string_view validUtf8, size_t& i);

// Each byte as two lower-case hexadecimal digits, without separators.
std::string HexText(const unsigned char* bytes, size_t count);

bool IsValidUtf8(std::string_view bytes);
// The text with every byte sequence that is not UTF-8 (over-long forms, surrogates, code points
// past U+10FFFF, five- and six-byte forms, stray continuation bytes, cut sequences) replaced by
// U+FFFD.
std::string ValidUtf8(std::string_view bytes);
// A JSON string of text: always valid UTF-8, the control characters EscapeControls escapes as
// JSON escapes.
std::string JsonString(std::string_view text);
