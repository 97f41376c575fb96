// ipcam-upgrade-cli upgrade: the main window's upgrade road without a window.
#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

struct TCliUpgradeOptions {
    std::string IP;
    std::string Port = "81";
    std::string User = "admin";
    std::string Password = "530274";
    char Series = 'H';
    std::string Firmware = "both"; // system, ui or both
    int Answer = 0;                // 0 ask (on a terminal) or no, 6 yes, 7 no
    std::string Lang;
    std::string FirmwareServer;
};

// Runs the upgrade as the main window's buttons do and prints every log line with its time stamp
// to out. Returns 0 when every session ended well (camera working again, or nothing to do), else 1.
int RunUpgrade(const TCliUpgradeOptions& options, std::ostream& out);

// Adds the subcommand with its options; the returned callback runs it after parsing.
class TUpgradeCommand {
  public:
    explicit TUpgradeCommand(CLI::App& app);
    bool Parsed() const;
    int Run();

  private:
    CLI::App* FCommand;
    TCliUpgradeOptions FOptions;
    std::string FSeries = "H";
    bool FYes = false, FNo = false;
};
