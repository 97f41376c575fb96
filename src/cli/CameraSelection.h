// Which cameras a batch talks to: the rows of a search it can trust, and one session per camera.
#pragma once

#include "Sessions.h"
#include "base/DevInfo.h"

#include <string>
#include <vector>

struct TLeftOut {
    TDevInfo Row;
    std::string Reason;
};

// The search rows a batch may log in to: an address that is dotted IPv4 and equal to the reply's
// sender, a port of 1 to 65535, a series of ours among wanted (letters such as "E,F,H"). Rows of
// a known series that is not wanted are skipped without a word; every other row left out goes to
// leftOut with its reason.
std::vector<TCamera> TrustedCameras(const std::vector<TDevInfo>& rows, const std::string& wanted,
                                    const std::string& user, const std::string& password,
                                    std::vector<TLeftOut>& leftOut);

// One camera named twice (the same address and port, or the same MAC when known) is one session:
// the first row stays. Each merge is described in merged.
std::vector<TCamera> OneSessionPerCamera(const std::vector<TCamera>& cameras,
                                         std::vector<std::string>& merged);
