#include "upgrade/ESeries.h"

#include <gtest/gtest.h>

TEST(ESeries, SectionNameAndSameVersion) {
    EXPECT_EQ(ESectionName("47.2.3.18"), "47.2.X.18");
    EXPECT_EQ(ESectionName("47.2.3.18.5"), "47.2.X.18");
    EXPECT_EQ(ESectionName("47.2.3"), "");
    EXPECT_EQ(ESectionName("47.2.3.18 "), "47.2.X.18 ");
    EXPECT_EQ(ESectionName(" 47.2.3.18"), " 47.2.X.18");
    EXPECT_TRUE(ESameVersion("48.1.3.20", "47.2.3.18"));
    EXPECT_FALSE(ESameVersion("47.2.4.18", "47.2.3.18"));
    EXPECT_TRUE(ESameVersion("1.1. 3 .1", "2.2.3"));
    EXPECT_FALSE(ESameVersion("47.2", "47.2"));
    EXPECT_FALSE(ESameVersion("1.2.a.4", "1.2.A.4"));
    TESYSUpgrade sys;
    TEUIUpgrade ui;
    sys.SetFirmwareFile(" E_47.2.3.18.zip ");
    ui.SetFirmwareFile("E_ui.zip");
    EXPECT_EQ(sys.GetImageFileName(), "E_47.2.3.18.pk2");
    EXPECT_EQ(ui.GetImageFileName(), "E_ui.pk2");
    sys.SetCurVersion("47.2.3.18");
    EXPECT_EQ(sys.GetSectionName(), "47.2.X.18");
    EXPECT_TRUE(sys.IsSameVersion("48.1.3.20"));
}
