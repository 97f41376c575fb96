// The command-line front end: the main window's upgrade road without a window.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

struct TCliUpgradeOptions {
    std::string IP;
    std::string Port = "81";
    std::string User = "admin";
    std::string Password = "530274";
    char Series = 'H';
    std::string Firmware = "both"; // system, ui or both
    int Answer = 0;                // 0 ask (on a terminal) or no, 6 yes, 7 no
    std::string Lang;
    std::string FirmwareServer;
};

// The main window's time stamp: the locale's short date, a blank, its long time and ":".
std::string LogTimeStamp();

// Runs the upgrade as the main window's buttons do and prints every log line with its time stamp
// to out. Returns 0 when every session ended well (camera working again, or nothing to do), else 1.
int RunUpgrade(const TCliUpgradeOptions& options, std::ostream& out);

// The whole program: parses argv; 2 for a usage error.
int CliMain(int argc, char** argv);
