// The series of a camera found by asking it alone: the search probes sent to its address only.
#include "cli/SeriesProbe.h"
#include "cli/UpgradeCommand.h"

#include "SimDemo.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace testsupport;

namespace {

class SeriesProbe : public TLangSandbox {
  protected:
    void TearDown() override {
        Sim.reset();
        TLangSandbox::TearDown();
    }
    // Cameras with addresses of their own, which answer a search sent there.
    void Start() {
        std::vector<sim::TCameraConfig> cameras = DemoOf({sim::TSeries::E, sim::TSeries::F, sim::TSeries::H});
        for (size_t i = 0; i < cameras.size(); ++i)
            cameras[i].Address = "127.0.0." + std::to_string(21 + i);
        Sim = std::make_unique<sim::TSimulation>(Root + "fm", cameras, "127.0.0.1", 0, true);
    }
    std::unique_ptr<sim::TSimulation> Sim;
};

} // namespace

TEST_F(SeriesProbe, EachDialectAnswersForItsOwnAddressOnly) {
    Start();
    for (sim::TSeries s : {sim::TSeries::E, sim::TSeries::F, sim::TSeries::H}) {
        sim::TSimCamera& cam = *Sim->Find(s);
        TCamera camera;
        camera.IP = cam.Config().Address;
        camera.Port = std::to_string(cam.Port());
        camera.Series = '\0';
        ASSERT_TRUE(FindSeries(camera)) << sim::SeriesName(s);
        EXPECT_EQ(std::string(1, camera.Series), sim::SeriesName(s));
        EXPECT_FALSE(camera.Mac.empty());
    }
    TCamera nobody;
    nobody.IP = "127.0.0.99";
    nobody.Series = '\0';
    EXPECT_FALSE(FindSeries(nobody));
    EXPECT_EQ(nobody.Series, '\0');
}

TEST_F(SeriesProbe, AnUpgradeWithoutSeriesTakesTheAnswerAndReportsTheMac) {
    Start();
    sim::TSimCamera& h = *Sim->Find(sim::TSeries::H);
    TCliUpgradeOptions o = OptionsFor(*Sim, h, "system");
    o.IP = h.Config().Address;
    o.Series = '\0';
    o.Check = true;
    o.Json = true;
    std::ostringstream out;
    EXPECT_EQ(RunUpgrade(o, out), 0);
    EXPECT_NE(out.str().find("\"series\": \"H\", \"mac\": \""), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"outcome\": \"update-available\""), std::string::npos) << out.str();
}
