// The options that upgrade and batch share: what to upgrade, from where, and how to report.
#pragma once

#include "Sessions.h"
#include "app/Startup.h"

#include <string>

namespace CLI {
class App;
}

struct TCliRunOptions {
    std::string Firmware = "both"; // system, ui or both
    int Answer = 0;                // 0 ask (on a terminal) or no, 6 yes, 7 no
    std::string Lang;
    std::string FirmwareServer;
    std::string CaFile;
    bool Json = false;
    bool Check = false;
    std::string Package, MD5, SHA256;
    std::string CacheDir; // empty: the user's cache folder
};

class TRunOptionFlags {
  public:
    // Adds the shared options to command; Apply turns the flags into o.Answer.
    TRunOptionFlags(CLI::App& command, TCliRunOptions& o);
    void Apply(TCliRunOptions& o) const;

  private:
    bool FYes = false, FNo = false, FReinstall = false;
};

// False with error set for options that do not go together or a digest of the wrong form.
bool RunOptionsUsable(const TCliRunOptions& o, std::string& error);
// The settings every session of the run gets; also sets the firmware server's certificate file.
TSessionSettings SettingsFor(const TCliRunOptions& o, const TStartup& startup);

// The password when it is not on the command line: the first line of passwordFile when one is
// given, else IPCAM_PASSWORD when set; password is left as it is when neither is.
bool PasswordFromOutside(const std::string& passwordFile, std::string& password, std::string& error);
