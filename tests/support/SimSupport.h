// Running the command line's upgrade against simulated cameras.
#pragma once

#include "SimDemo.h"
#include "cli/CliApp.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

// The demo's cameras of the given series, each rebooting in rebootMs (scaled).
std::vector<sim::TCameraConfig> DemoOf(std::initializer_list<sim::TSeries> series, int64_t rebootMs = 1000);
// The options for one camera of a simulation, with the English texts.
TCliUpgradeOptions OptionsFor(sim::TSimulation& simulation, const sim::TSimCamera& camera,
                              const std::string& firmware = "both");
// The upgrade's exit status; what it printed goes to log.
int RunCli(const TCliUpgradeOptions& options, std::string& log);

} // namespace testsupport
