// The current language, the language files and the cached lookup of message texts.
// Every text returned is UTF-8, decoded from the code page of the file's language.
#pragma once

#include "IniFile.h"

#include <memory>
#include <mutex>
#include <string>

// A reader bound to one language file, which knows the code page its values are stored in.
class TLangReader {
  public:
    explicit TLangReader(const std::string& FileName);
    const TIniFile& Ini() const { return FIni; }
    const char* CodePage() const { return FCodePage; }
    // The code page of a language: cn and en GBK, jp Shift-JIS, b5 Big5, the others CP1252.
    static const char* CodePageOf(const std::string& code);
    // A reader over bytes already in memory, named as a file of that name would be.
    static TLangReader FromContent(const std::string& FileName, const std::string& Content) {
        return TLangReader(FileName, Content);
    }

  private:
    TLangReader(const std::string& FileName, const std::optional<std::string>& Content);
    TIniFile FIni;
    const char* FCodePage;
};

std::string CurLang();
void SetCurLang(const std::string& code);
std::string LangDir();
void SetLangDir(const std::string& dir);
// The program's file name with its extension replaced by ".l" (appended when it has none).
std::string LangFileName(const std::string& code);
std::string LangFilePath();

void SetLanguage(const std::string& code);
// The five escapes of the language files, in their fixed order.
std::string DecodeLangEscapes(std::string value);
std::string ReadLangValue(const TLangReader& reader, const std::string& section, const std::string& key,
                          const std::string& Default);
std::string GetLangStr(const std::string& key);
std::string GetLangText(const std::string& section, const std::string& key);
int LangMessageBox(const std::string& textKey, const std::string& captionKey, int flags);

// A toolkit-free font record; the GUI copies it to and from its own fonts.
struct TLangFont {
    std::string Face;
    int Charset = 1;
    int Size = 8;
};
enum : int { DEFAULT_CHARSET = 1, SHIFTJIS_CHARSET = 128, GB2312_CHARSET = 134, CHINESEBIG5_CHARSET = 136 };
void ApplyLangFont(const std::string& code, TLangFont& font);

// Form translation shares one reader, made on demand and dropped by SetLanguage.
std::recursive_mutex& LangIniLock();
// Call with LangIniLock held.
TLangReader& LangIni();
