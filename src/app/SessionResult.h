// What one session of one camera was and how it went, as both front ends report and record it.
#pragma once

#include "UpgradeThread.h"

#include <string>

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

struct TSessionResult {
    TCamera Camera;
    std::string Firmware; // "system" or "ui"
    TSessionReport Report;
    std::string Manufacturer, Model; // as a standard camera names itself
};

// The series as the command line writes it: the letter, or "onvif".
std::string SeriesText(char series);

// The session as one JSON object; without its log for the history.
std::string SessionJson(const TSessionResult& result, bool withLog = true);
