#include "UpgradeFactory.h"

#include "CSeries.h"
#include "ESeries.h"
#include "FSeries.h"
#include "HSeries.h"
#include "OnvifSeries.h"
#include "TSeries.h"

std::unique_ptr<TUpgradeObject> TUpgradeFactory::CreateUpgrade(int SeriesIndex, int Kind) {
    bool system = Kind != 0;
    switch (SeriesIndex) {
    case 0:
        if (system) return std::make_unique<TESYSUpgrade>();
        return std::make_unique<TEUIUpgrade>();
    case 1:
        if (system) return std::make_unique<TFSYSUpgrade>();
        return std::make_unique<TFUIUpgrade>();
    case 2:
        if (system) return std::make_unique<THSYSUpgrade>();
        return std::make_unique<THUIUpgrade>();
    case 3:
        if (system) return std::make_unique<TTSYSUpgrade>();
        return std::make_unique<TTUIUpgrade>();
    case 4:
        if (system) return std::make_unique<TCSYSUpgrade>();
        return std::make_unique<TCUIUpgrade>();
    case 5:
        // A standard camera has one firmware only.
        if (system) return std::make_unique<TOnvifUpgrade>();
        return nullptr;
    default:
        return nullptr;
    }
}

bool TUpgradeFactory::HasSeries(int SeriesIndex) {
    return CreateUpgrade(SeriesIndex, 1) != nullptr;
}
