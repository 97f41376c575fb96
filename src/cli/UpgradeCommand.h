// ipcam-upgrade-cli upgrade: the main window's upgrade road without a window.
#pragma once

#include "RunOptions.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace CLI {
class App;
}

struct TCliUpgradeOptions : TCliRunOptions {
    std::string IP;
    std::string Port = "81";
    std::string User = "admin";
    std::string Password = "530274";
    char Series = 'H';
    // Known from the search when the series was found by asking the camera.
    std::string Mac, Name;
};

// Runs the upgrade as the main window's buttons do and prints every log line with its time stamp
// to out (or, with Json, one object per session). Returns 0 when every session ended well
// (camera working again with the offered version, or nothing to do), 1 when one did not, 2 for
// options that cannot be used.
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
    std::string FSeries; // empty: asked of the camera
    std::string FPasswordFile;
    std::unique_ptr<TRunOptionFlags> FFlags;
};
