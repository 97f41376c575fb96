// ipcam-upgrade-cli mirror: copies firmware lists and their packages from a firmware server
// into a folder, which then serves sites without Internet as a local firmware server.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

struct TCliMirrorOptions {
    std::string To;
    std::vector<std::string> Folders{"system"};
    std::string FirmwareServer;
    std::string CaFile;
};

// 0 when every list and package was copied and matched its digests, 1 when one did not, 2 for
// a usage error. Packages already in the folder with the right digests are not fetched again.
int RunMirror(const TCliMirrorOptions& options, std::ostream& out);

class TMirrorCommand {
  public:
    explicit TMirrorCommand(CLI::App& app);
    bool Parsed() const;
    int Run();

  private:
    CLI::App* FCommand;
    TCliMirrorOptions FOptions;
};
