// Code-page conversion of language texts and camera texts to and from UTF-8 (glibc iconv).
#pragma once

#include "base/Text.h"

#include <string>
#include <string_view>

// Converts bytes of the named code page (an iconv name: "CP936", "CP932", ...) to UTF-8. A byte
// sequence the code page does not know becomes U+FFFD; nothing is dropped silently.
std::string ToUtf8(std::string_view bytes, const char* codePage);
std::string FromUtf8(std::string_view utf8, const char* codePage);

// A text from a camera as UTF-8: valid UTF-8 stays as it is; anything else is read as GB18030
// (cameras set up in Chinese send their names in GBK), and bytes even that does not read become
// U+FFFD. Decode first, escape afterwards.
std::string CameraText(std::string_view bytes);
