#pragma once

#include "SimZip.h"

namespace testsupport {
using sim::TZipEntry;
using sim::WriteZip;
using sim::WriteZipFromFile;
} // namespace testsupport
