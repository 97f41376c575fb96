// The record of every session, kept for the administrator: one JSON line a session in the
// user's state folder, and one line in the system log.
#pragma once

#include "SessionResult.h"

#include <optional>
#include <string>
#include <vector>

// $XDG_STATE_HOME/ipcam-upgrade/history.jsonl (~/.local/state/... without it).
std::string HistoryPath();

// Appends the session's JSON object (without its log, with the time it ended) to the history
// and sends its summary line to the system log. Failures to record are silent: the upgrade
// itself went as it went.
void RecordSession(const TSessionResult& result);

// The system log's line of a session: camera, series, firmware, versions and outcome.
std::string SyslogLine(const TSessionResult& result);

// One history line as read back: every field optional, as an older or damaged line may lack it.
struct THistoryEntry {
    std::string Line; // the JSON object as stored
    std::string Time, IP, Port, Series, Mac, Name, Firmware, Outcome, Text;
    std::optional<std::string> VersionBefore, VersionOffered, VersionAfter;
};

// Reads one stored line; false when it is no JSON object of a session.
bool ParseHistoryLine(const std::string& line, THistoryEntry& entry);
