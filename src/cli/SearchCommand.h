// ipcam-upgrade-cli search: the search dialog's rounds without a window, then the list.
#pragma once

#include "base/DevInfo.h"

#include <chrono>
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

// When the steps of a search's end happened (for the benchmark).
struct TSearchEnd {
    using TTime = std::chrono::steady_clock::time_point;
    TTime LastWait;  // the wait for late answers ended
    TTime RowsTaken; // the receivers woken and the list copied
    TTime Printed;   // the rows written (RunSearch)
    TTime Stopped;   // every receiver joined
    // The CPU time the calling thread had used at the last wait's end and once the rows were
    // written: what of the interval was work, and what was waiting for a processor.
    std::chrono::nanoseconds CpuAtLastWait{}, CpuAtPrinted{};
};

// The search dialog's Find and rounds ticks; the devices found, in the dialog's order. What the
// search has to say (a full list, no external library) goes to notes.
std::vector<TDevInfo> SearchLan(int rounds, bool external, std::ostream& notes);
// The series letter of a device type; null for a device of no series of ours.
const char* SeriesName(int type);

// The rows go to out, the search's notes to notes. The rows are written as soon as the last wait
// ends; the receivers are joined afterwards.
int RunSearch(const TCliSearchOptions& options, std::ostream& out, std::ostream& notes,
              TSearchEnd* end = nullptr);

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
