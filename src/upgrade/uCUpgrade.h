#pragma once

#include "uTUpgrade.h"

class TCSYSUpgrade : public TZoltUpgradeObject<TSysUpgradeObject, true, false> {};
class TCUIUpgrade : public TZoltUpgradeObject<TUIUpgradeObject, false, false> {};
