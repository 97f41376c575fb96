// The small camera GET, the camera address check, and TTools, which also hands on the folder helpers.
#pragma once

#include "base/Files.h"
#include "base/Text.h"

#include <string>
#include <vector>

// A camera address as the operator may type it: an IPv4 literal, or a host name of letters,
// digits, dots and hyphens. Anything else (a port, a path, a query, blanks) would change the
// requests built from it.
bool IsCameraAddress(const std::string& text);

// Stateless helpers shared by the whole program: the small camera GET, and the folder helpers of
// base/Files under the names the rest of the program knows them by. Folders end with '/'.
class TTools {
  public:
    static constexpr int CSIDL_APPDATA = 26;
    static constexpr size_t HttpBodyLimit = 512000;

    // A camera page; never through a proxy.
    static bool HttpGet(const std::string& URL, std::string& Body, int Timeout, const std::string& User,
                        const std::string& Password);
    static std::string GetTempDir();
    static std::string GetAppPath();
    static std::string GetModulePath();
    static std::string GetSpecialDir(int Folder, bool Create);
    static std::string GetUserDataDir(int Folder, bool Create);
    static bool ForceDir(const std::string& Dir);
    static bool DeleteDir(const std::string& Dir, bool RemoveSelf);
    static void SplitText(const std::string& Text, const std::string& Separator, TStringList& List);
    static void FindFiles(TStringList& List, const std::string& Dir, const std::string& Masks,
                          bool NoDuplicates);
    static std::string Base64Encode(const std::string& Data);
};
