// The C series: the T series' upgrade classes with the upload on the camera's own port.
#pragma once

#include "TSeries.h"

class TCSYSUpgrade : public TZoltUpgradeObject<TSysUpgradeObject, true, false> {};
class TCUIUpgrade : public TZoltUpgradeObject<TUIUpgradeObject, false, false> {};
