// The E series: versions from the CTP search, ".pk2" packages uploaded over CTP/1.0.
#pragma once

#include "UpgradeObject.h"

#include <string>

// "47.2.3.18" -> "47.2.X.18"; empty for fewer than four parts. Parts are not trimmed.
std::string ESectionName(const std::string& Version);
// The third parts, trimmed, equal; false when either version has no third part.
bool ESameVersion(const std::string& A, const std::string& B);

// The E series: ".pk2" packages replayed over CTP/1.0; the system version from the CTP search.
class TESYSUpgrade : public TSysUpgradeObject {
  public:
    TESYSUpgrade() { FModelKeyLen = 0; }
    std::string GetImageFileName() override;
    bool ReadCurrentVersion() override;
    std::string GetSectionName() override { return ESectionName(FCurVersion); }
    bool IsSameVersion(const std::string& Latest) override { return ESameVersion(Latest, FCurVersion); }
    bool DoUpgrade(std::string& Message) override;
};

class TEUIUpgrade : public TUIUpgradeObject {
  public:
    TEUIUpgrade() { FModelKeyLen = 0; }
    std::string GetImageFileName() override;
    bool DoUpgrade(std::string& Message) override;
};
