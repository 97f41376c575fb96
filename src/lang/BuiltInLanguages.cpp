#include "BuiltInLanguages.h"

#include <cstddef>

// Made at build time from lang/data/lang-*.ini, in the code page of each language.
extern const unsigned char kLangEn[];
extern const std::size_t kLangEnSize;
extern const unsigned char kLangJp[];
extern const std::size_t kLangJpSize;

std::string StoredLanguageFile(const std::string& code) {
    if (code == "en") return std::string(reinterpret_cast<const char*>(kLangEn), kLangEnSize);
    if (code == "jp") return std::string(reinterpret_cast<const char*>(kLangJp), kLangJpSize);
    return {};
}
