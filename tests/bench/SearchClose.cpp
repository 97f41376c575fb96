// The end of a search as the command line runs it: from the end of its last wait to the rows
// printed (the listeners, the device-control library's receivers and the external library
// stopped, the list printed). Prints the milliseconds and the number of rows.
#include "cli/SearchCommand.h"

#include <chrono>
#include <cstdio>
#include <sstream>

int main() {
    TCliSearchOptions o;
    o.Format = "csv";
    std::ostringstream out, notes;
    std::chrono::steady_clock::time_point lastWait{};
    RunSearch(o, out, notes);
    // A second run is measured: the first one's start-up (language folder, libraries) is done.
    std::ostringstream rows;
    RunSearch(o, rows, notes, &lastWait);
    auto printed = std::chrono::steady_clock::now();
    size_t lines = 0;
    for (char c : rows.str())
        lines += c == '\n';
    std::printf("%.3f %zu\n", std::chrono::duration<double, std::milli>(printed - lastWait).count(),
                lines ? lines - 1 : 0);
    return 0;
}
