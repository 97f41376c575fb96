// The H series: the F upload under "/cgi-bin/" with Basic authorization.
#pragma once

#include "UpgradeObject.h"

#include <string>

// The H series: the F upload under "/cgi-bin/", with Basic authorization and bounded waits.
class THSYSUpgrade : public TSysUpgradeObject {
  public:
    THSYSUpgrade() { FModelKeyLen = 0; }
    bool ReadCurrentVersion() override;
    bool DoUpgrade(std::string& Message) override;
};

class THUIUpgrade : public TUIUpgradeObject {
  public:
    THUIUpgrade() { FModelKeyLen = 0; }
    bool DoUpgrade(std::string& Message) override;
};

namespace hseries {
constexpr int64_t ConnectTimeout = 60000;
constexpr int64_t ReadTimeout = 60000;
bool Upload(TUpgradeObject& U, const std::string& Target, std::string& Message);
} // namespace hseries
