// ipcam-upgrade-cli search: the search dialog's rounds without a window, then the list.
#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

struct TCliSearchOptions {
    int Rounds = 3;
    std::string Format = "table"; // table, json or csv
    bool External = true;
    std::string Lang;
    std::string Interface;
};

int RunSearch(const TCliSearchOptions& options, std::ostream& out);

class TSearchCommand {
  public:
    explicit TSearchCommand(CLI::App& app);
    bool Parsed() const;
    int Run();

  private:
    CLI::App* FCommand;
    TCliSearchOptions FOptions;
    bool FJson = false, FCsv = false, FNoExternal = false;
};
