// Which cameras a batch talks to: the rows of a search it can trust, and one session per camera.
#pragma once

#include "Sessions.h"
#include "base/DevInfo.h"
#include "transport/CameraIdentity.h"

#include <atomic>
#include <string>
#include <vector>

struct TLeftOut {
    TDevInfo Row;
    std::string Reason;
};

class TUpgradeObject;

// How long a camera that let the session in gets to name its MAC: it answers at once, and one
// gone since holds the report up no longer than this (scaled).
inline constexpr int64_t IdentityTimeout = 5000;

// A MAC as reports write it: twelve upper-case hexadecimal digits; empty for any text that is
// no MAC (or all zeros).
std::string MacText(const std::string& text);

// What a session learnt of its camera where the search gave nothing: the MAC and the name the
// camera's pages and answers carried (seen), and for a standard camera that answered the MAC of
// its network interface, asked once. Nothing of this changes the session's outcome.
void LearnIdentity(TSessionResult& result, const TCameraIdentity& seen, TUpgradeObject& u);

// The series of a list such as "E,f, onvif" as the search names them: E, F, ONVIF (O for ONVIF).
std::vector<std::string> SeriesItems(const std::string& list);
// Whether series (a name of SeriesName) is one of the list's, whole: "ONVIF" holds no F.
bool SeriesWanted(const std::string& wanted, const std::string& series);

// A standard camera's row, whose sender the search library does not tell: its camera gets a login
// only once its address answered as a standard camera (ConfirmStandardCameras).
struct TAwaiting {
    TDevInfo Row;
    TCamera Camera;
};

// How a standard camera's address is asked whether it is one: each at most this long (scaled),
// so many at once.
inline constexpr int64_t ConfirmTimeout = 3000;
inline constexpr size_t ConfirmJobs = 32;

// The search rows a batch may log in to: an address that is dotted IPv4 and equal to the reply's
// sender, a port of 1 to 65535, a series of ours among wanted (letters such as "E,F,H"). A
// standard camera's row of unknown sender that passes every other check goes to awaiting instead.
// Rows of a known series that is not wanted are skipped without a word; every other row left out
// goes to leftOut with its reason.
std::vector<TCamera> TrustedCameras(const std::vector<TDevInfo>& rows, const std::string& wanted,
                                    const std::string& user, const std::string& password,
                                    std::vector<TLeftOut>& leftOut, std::vector<TAwaiting>& awaiting);

// One camera named twice (the same address and port, or the same MAC when known) is one session:
// the first row stays. The cameras awaiting their check count as rows after the others, so a row
// that answered for itself stays where both name one camera; awaiting keeps only its rows that
// name a camera of their own. Each merge is described in merged.
std::vector<TCamera> OneSessionPerCamera(const std::vector<TCamera>& cameras,
                                         std::vector<TAwaiting>& awaiting, std::vector<std::string>& merged);

// Asks each awaiting row's device service for the camera's clock, without any credential, at
// most jobs at once, each within timeoutMs (scaled): the cameras of those that answered with one,
// in their order. The others go to leftOut with the reason; rows not yet asked when stop is set
// are left out as well.
std::vector<TCamera> ConfirmStandardCameras(const std::vector<TAwaiting>& awaiting,
                                            std::vector<TLeftOut>& leftOut, size_t jobs = ConfirmJobs,
                                            int64_t timeoutMs = ConfirmTimeout,
                                            const std::atomic<bool>* stop = nullptr);
