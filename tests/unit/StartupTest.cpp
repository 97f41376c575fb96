#include "app/Startup.h"
#include "lang/Lang.h"
#include "transport/DeviceControlLibrary.h"
#include "upgrade/FirmwareServer.h"

#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>

using testsupport::WriteFile;

class Startup : public testsupport::TSandbox {};

TEST_F(Startup, TheFirmwareServerIsTheGivenOneThenTheEnvironmentsThenTheOptionFiles) {
    unsetenv("IPCAM_FIRMWARE_SERVER");
    EXPECT_EQ(TStartup().FirmwareServer(), "");
    WriteFile(Root + "config/ipcam-upgrade/option.ini", "[Global]\nFirmwareServer= http://127.0.0.1:1/FM \n");
    TStartup s;
    EXPECT_EQ(s.FirmwareServer(), "http://127.0.0.1:1/FM");
    // Read when a session starts, not when the program did.
    setenv("IPCAM_FIRMWARE_SERVER", "http://127.0.0.1:2/FM/", 1);
    EXPECT_EQ(s.FirmwareServer(), "http://127.0.0.1:2/FM/");
    EXPECT_EQ(s.FirmwareServer(" /srv/fm "), "/srv/fm");
    setenv("IPCAM_FIRMWARE_SERVER", "  ", 1);
    EXPECT_EQ(s.FirmwareServer(), "http://127.0.0.1:1/FM");
    unsetenv("IPCAM_FIRMWARE_SERVER");
}

TEST_F(Startup, LanguagesAreTakenByTheirUsualCodesAndAnUnknownOneFallsBackToEnglish) {
    TStartup s;
    s.OpenLanguageStore();
    std::vector<std::string> codes = TStartup::LanguageCodes();
    EXPECT_NE(std::find(codes.begin(), codes.end(), "en"), codes.end());
    EXPECT_NE(std::find(codes.begin(), codes.end(), "jp"), codes.end());
    EXPECT_TRUE(s.ChooseLanguage("ja_JP.UTF-8"));
    EXPECT_EQ(CurLang(), "jp");
    // The list to choose from holds every file that names the current language, and only those.
    std::vector<std::string> files = s.LanguageFiles();
    EXPECT_GE(files.size(), 2u);
    WriteFile(LangDir() + LangFileName("xx"), "[Global]\nName_en=Other\n");
    EXPECT_EQ(s.LanguageFiles().size(), files.size());
    EXPECT_FALSE(s.ChooseLanguage("yy"));
    EXPECT_EQ(CurLang(), "en");
    EXPECT_EQ(s.LanguageFiles().size(), files.size() + 1);
    WriteFile(Root + "config/ipcam-upgrade/option.ini", "[Global]\nlan=jp\n");
    TStartup again;
    again.ChooseStartLanguage();
    EXPECT_EQ(CurLang(), "jp");
    SetLanguage("en");
}

TEST_F(Startup, TheDeviceControlLibraryLivesAsLongAsTheStartUp) {
    ReleaseZoltSeries();
    {
        TStartup s;
        EXPECT_EQ(ZoltSeries(), nullptr);
        s.LoadDeviceControlLibrary();
        EXPECT_NE(ZoltSeries(), nullptr);
    }
    EXPECT_EQ(ZoltSeries(), nullptr);
}
