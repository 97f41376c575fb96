// The INI reader of language files, firmware lists and the option file.
#include "lang/IniFile.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string content(reinterpret_cast<const char*>(data), size);
    TIniFile ini("fuzz.ini", content);
    for (const char* section : {"StrRes", "M1", "", "Global"}) {
        (void)ini.SectionExists(section);
        (void)ini.ReadString(section, "SysVer", "default");
        (void)ini.ReadString(section, "IDS_ERROR", "");
    }
    return 0;
}
