// ipcam-upgrade-cli search: the search dialog's rounds without a window, then the list.
#pragma once

#include "base/DevInfo.h"

#include <iosfwd>
#include <string>
#include <vector>

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

// The search dialog's Find and rounds ticks; the devices found, in the dialog's order.
std::vector<TDevInfo> SearchLan(int rounds, bool external);
// The series letter of a device type; null for a device of no series of ours.
const char* SeriesName(int type);

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
