// What the upgrade and batch subcommands share: one session of one camera run on the caller's
// thread, its report as a JSON line or a table row, and where passwords come from.
#pragma once

#include "app/SessionResult.h"
#include "app/UpgradeThread.h"

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

// How every session of one run goes.
struct TSessionSettings {
    // What every session of the run asks alike (firmware server as start-up chose it, CA file,
    // package, check, stop); each camera's session adds its series, kind, account and address.
    TSessionRequest Request;
    progress::TSink Progress;
};

// The firmware kinds a --firmware value stands for, in their order: 1 system, 0 UI. A standard
// camera has its one firmware only.
std::vector<int> FirmwareKinds(const std::string& firmware, char series = 'H');

// One press of an upgrade button: the input checks, then the session on this thread. Every line
// goes to log as it is written.
TSessionResult RunSession(const TCamera& camera, int kind, const TSessionSettings& settings,
                          const std::function<void(const std::string&)>& log);

// Whether the session ended as it should: a camera working with its new firmware, or nothing
// to do, or (a check) a version reported.
bool EndedWell(const TSessionReport& report);

// The session's last line after the camera's name and the time: what a quiet run shows of a
// session that did not end well.
void PrintFailure(const TSessionResult& result, std::ostream& out);
// The counts per outcome, with "summary": true.
std::string SummaryJson(const std::vector<TSessionResult>& results);
// Camera, series, firmware, outcome, the three versions and the time, one row a session.
void PrintSummaryTable(const std::vector<TSessionResult>& results, std::ostream& out);

// The first line of a password file; false with error set when it cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);
// Whether only its owner can read the file at path (a pipe or standard input counts as private).
bool IsPrivateFile(const std::string& path);
