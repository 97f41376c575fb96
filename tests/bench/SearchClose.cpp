// The end of a search as the command line runs it: from the end of its last wait to the rows
// printed. Prints that in milliseconds, the number of rows, and the steps: the receivers woken
// and the list copied, the rows written, and (after the rows) every receiver joined.
#include "cli/SearchCommand.h"

#include <chrono>
#include <cstdio>
#include <sstream>

int main() {
    TCliSearchOptions o;
    o.Format = "csv";
    std::ostringstream out, notes;
    RunSearch(o, out, notes);
    // A second run is measured: the first one's start-up (language folder, libraries) is done.
    std::ostringstream rows;
    TSearchEnd end;
    RunSearch(o, rows, notes, &end);
    size_t lines = 0;
    for (char c : rows.str())
        lines += c == '\n';
    auto ms = [](TSearchEnd::TTime from, TSearchEnd::TTime to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    double cpu = std::chrono::duration<double, std::milli>(end.CpuAtPrinted - end.CpuAtLastWait).count();
    std::printf("%.3f %zu rows-taken %.3f written %.3f joined-after %.3f cpu %.3f\n",
                ms(end.LastWait, end.Printed), lines ? lines - 1 : 0, ms(end.LastWait, end.RowsTaken),
                ms(end.RowsTaken, end.Printed), ms(end.Printed, end.Stopped), cpu);
    return 0;
}
