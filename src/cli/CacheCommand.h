// ipcam-upgrade-cli cache: what the image cache holds, and emptying it.
#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

// Lists the cached images (image, size, server folder, MD5, last use) or removes them. 0, or 2
// when neither or both of list and clean are asked for.
int RunCache(bool list, bool clean, const std::string& cacheDir, std::ostream& out);

class TCacheCommand {
  public:
    explicit TCacheCommand(CLI::App& app);
    bool Parsed() const;
    int Run();

  private:
    CLI::App* FCommand;
    bool FList = false, FClean = false;
    std::string FCacheDir;
};
