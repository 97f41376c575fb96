// What the upgrade and batch subcommands share: one session of one camera run on the caller's
// thread, its report as a JSON line or a table row, and where passwords come from.
#pragma once

#include "app/UpgradeThread.h"

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

struct TCamera {
    std::string IP;
    std::string Port = "81";
    char Series = 'H'; // E, F, H, T, C, or O for a standard camera upgraded through ONVIF
    std::string User = "admin";
    std::string Password = "530274";
    std::string Mac; // when known: the same camera under two addresses is still one camera
    // From the search when known: reports carry them so that they join an inventory under DHCP.
    std::string DeviceName;
    // "ip:port", as log lines and tables name the camera.
    std::string Name() const { return IP + ":" + Port; }
};

// How every session of one run goes.
struct TSessionSettings {
    std::string FirmwareServer; // as start-up chose it: the option, the environment or the option file
    std::string CaFile;
    bool Check = false;
    std::string Package, MD5, SHA256;
    progress::TSink Progress;
    const std::atomic<bool>* Stop = nullptr;
};

struct TSessionResult {
    TCamera Camera;
    std::string Firmware; // "system" or "ui"
    TSessionReport Report;
    std::string Manufacturer, Model; // as a standard camera names itself
};

// The series as the command line writes it: the letter, or "onvif".
std::string SeriesText(char series);

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

// The session as one JSON object; without its log for the history.
std::string SessionJson(const TSessionResult& result, bool withLog = true);
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
