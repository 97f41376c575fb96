// ipcam-upgrade-cli history: what was done to which camera, from the history file.
#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

// Prints the sessions of the history (all, or those of one camera: "IP" or "IP:PORT") as a
// table, or with json as the stored JSON lines. 0, or 1 when the file cannot be read.
int RunHistory(bool json, const std::string& camera, std::ostream& out);

class THistoryCommand {
  public:
    explicit THistoryCommand(CLI::App& app);
    bool Parsed() const;
    int Run();

  private:
    CLI::App* FCommand;
    bool FJson = false;
    std::string FCamera;
};
