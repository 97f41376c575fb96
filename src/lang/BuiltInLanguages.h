// The language files the program carries (English and Japanese), as the bytes it writes out.
#pragma once

#include <string>

// The bytes of the stored language file of a code ("en", "jp"), empty for others. The lookup
// falls back to the English one, and the language store writes both into the language folder.
std::string StoredLanguageFile(const std::string& code);
