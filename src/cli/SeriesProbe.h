// The series of one camera found by asking it, as the search dialog learns it: the probes of
// every search dialect, sent to that one address only.
#pragma once

#include "Sessions.h"

// How long the camera gets to answer (scaled).
inline constexpr int64_t kSeriesProbeMs = 2000;

// Sets camera.Series (and its MAC and name when it tells them) from the answer of the camera at
// camera.IP; an answer from the camera's port wins over one of another port of that address.
// False when nothing of a known series answers in time; the reason then goes to standard error.
bool FindSeries(TCamera& camera);
