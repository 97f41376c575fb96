// The factory that makes the upgrade object of a series and a firmware kind.
#pragma once

#include "UpgradeObject.h"

#include <memory>

// The series index is the position in the series list: 0 E, 1 F, 2 H, 3 T, 4 C, 5 ONVIF (a
// standard camera of any maker, system firmware only).
class TUpgradeFactory {
  public:
    // Kind 0 is the UI firmware, any other value the system firmware. Null for an unknown series.
    static std::unique_ptr<TUpgradeObject> CreateUpgrade(int SeriesIndex, int Kind);
    // Whether this build has the classes of a series.
    static bool HasSeries(int SeriesIndex);
};
