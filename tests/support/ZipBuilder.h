// The simulator's ZIP writer, for tests that need real archives.
#pragma once

#include "SimZip.h"

namespace testsupport {
using sim::TZipEntry;
using sim::WriteZip;
using sim::WriteZipFromFile;
} // namespace testsupport
