// The external search library is loaded from the program's own folder only, never from the
// working folder.
#include "discovery/LanSearch.h"
#include "discovery/ExternalSearch.h"

#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

using namespace testsupport;

namespace {

class ExternalLibrary : public TSandbox {
  protected:
    void SetUp() override {
        TSandbox::SetUp();
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        FWasIn = here;
        // A library planted in the working folder, under the name the program looks for.
        std::filesystem::path real =
            std::filesystem::path(IPCAM_CLI_PATH).parent_path() / "909/DVSNETClient.so";
        std::filesystem::create_directories(Root + "cwd/909");
        std::filesystem::copy_file(real, Root + "cwd/909/DVSNETClient.so");
        Planted = Root + "cwd/909/DVSNETClient.so";
        ExeDir = real.parent_path().parent_path().string() + "/";
        ASSERT_EQ(chdir((Root + "cwd").c_str()), 0);
    }
    void TearDown() override {
        (void)!chdir(FWasIn.c_str());
        TSandbox::TearDown();
    }
    bool PlantedLoaded() const {
        void* h = dlopen(Planted.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (h) dlclose(h);
        return h != nullptr;
    }
    std::string Planted, ExeDir;

  private:
    std::string FWasIn;
};

} // namespace

TEST_F(ExternalLibrary, APlantedLibraryInTheWorkingFolderIsNeverLoaded) {
    // The program's folder unknown: no path at all, and nothing is loaded.
    EXPECT_EQ(TFind_Hisi::LibraryPath(""), "");
    EXPECT_EQ(TFind_Hisi::LibraryPath("relative/"), "");
    {
        TFind_Hisi unknown(TFind_Hisi::LibraryPath(""));
        EXPECT_FALSE(unknown.Loaded());
        EXPECT_TRUE(unknown.PathUnknown());
        EXPECT_FALSE(unknown.Search());
        TFind_Hisi relative("909/DVSNETClient.so");
        EXPECT_FALSE(relative.Loaded());
        EXPECT_TRUE(relative.PathUnknown());
        EXPECT_FALSE(PlantedLoaded());
    }
    // The search goes on without it and can tell why.
    TLanSearch lan;
    EXPECT_FALSE(lan.LoadExternal(""));
    EXPECT_TRUE(lan.ExternalUnknown());
    EXPECT_FALSE(PlantedLoaded());
    // From the program's folder, by its absolute path, it loads.
    EXPECT_EQ(TFind_Hisi::LibraryPath(ExeDir), ExeDir + "909/DVSNETClient.so");
    TFind_Hisi beside(TFind_Hisi::LibraryPath(ExeDir));
    EXPECT_TRUE(beside.Loaded());
    EXPECT_FALSE(beside.PathUnknown());
    EXPECT_FALSE(PlantedLoaded());
}
