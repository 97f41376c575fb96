// The command-line front end: one unit per subcommand, this one parses and dispatches.
#pragma once

#include "BatchCommand.h"
#include "CliCommon.h"
#include "MirrorCommand.h"
#include "SearchCommand.h"
#include "UpgradeCommand.h"

// The whole program: parses argv; 2 for a usage error.
int CliMain(int argc, char** argv);
