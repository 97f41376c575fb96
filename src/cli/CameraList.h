// The cameras of a batch as a CSV file: a header row naming the columns (ip, port, series,
// user, password, mac; in any order, letter case ignored, others ignored), then one camera a row.
#pragma once

#include "Sessions.h"

#include <string_view>
#include <vector>

struct TCameraRow {
    TCamera Camera;
    bool HasPassword = false; // the row's password column held a value
};

// False with error set (naming the line) for a file that is no such list; a file without a
// camera is a valid, empty list. A row without a series (a camera the search found but no
// series upgrades) is left out, with one line for skipped. Bounded: 100 000 rows of 64 KiB at most.
bool ParseCameraList(std::string_view text, std::vector<TCameraRow>& rows, std::string& error,
                     std::vector<std::string>* skipped = nullptr);
