#include "SimSupport.h"

#include <algorithm>
#include <sstream>

namespace testsupport {

std::vector<sim::TCameraConfig> DemoOf(std::initializer_list<sim::TSeries> series, int64_t rebootMs) {
    std::vector<sim::TCameraConfig> out;
    for (sim::TCameraConfig c : sim::DemoCameras("127.0.0.1", 0))
        if (std::find(series.begin(), series.end(), c.Series) != series.end()) {
            c.RebootMs = rebootMs;
            out.push_back(c);
        }
    return out;
}

TCliUpgradeOptions OptionsFor(sim::TSimulation& simulation, const sim::TSimCamera& camera,
                              const std::string& firmware) {
    TCliUpgradeOptions o;
    o.IP = camera.Config().Address;
    o.Port = std::to_string(camera.Port());
    o.Series = sim::SeriesName(camera.Config().Series)[0];
    o.Firmware = firmware;
    o.Lang = "en";
    o.FirmwareServer = simulation.Firmware().BaseURL();
    return o;
}

int RunCli(const TCliUpgradeOptions& options, std::string& log) {
    std::ostringstream out;
    int rc = RunUpgrade(options, out);
    log = out.str();
    return rc;
}

} // namespace testsupport
