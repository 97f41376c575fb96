// Names from cameras set up in Chinese arrive in GBK: they are read as GB18030 when they are not
// UTF-8, and the command line's table lines its columns up by what a terminal shows.
#include "base/DisplayWidth.h"
#include "cli/Output.h"
#include "lang/Charset.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {
const std::string kGbk = "\xCD\xF8\xC2\xE7\xC9\xE3\xCF\xF1\xBB\xFA"; // 网络摄像机 in GBK
const std::string kUtf8 = "网络摄像机";
} // namespace

TEST(CameraText, TextsThatAreNotUtf8AreReadAsGb18030) {
    EXPECT_EQ(CameraText(kGbk), kUtf8);
    EXPECT_EQ(CameraText("cam-" + kGbk + "-1"), "cam-" + kUtf8 + "-1");
    // A four-byte GB18030 sequence (U+00A5 is 81 30 84 36).
    EXPECT_EQ(CameraText("\x81\x30\x84\x36"), "\xC2\xA5");
    // Valid UTF-8 is never read again, even where its bytes would also be GBK.
    EXPECT_EQ(CameraText(kUtf8), kUtf8);
    EXPECT_EQ(CameraText("\xE4\xB8\xAD"), "中");
    EXPECT_EQ(CameraText(""), "");
    // What GB18030 does not read either becomes U+FFFD, the rest stays.
    EXPECT_EQ(CameraText("a\xFF"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(CameraText("x\xCD"), "x\xEF\xBF\xBD") << "a sequence cut at the end";
}

TEST(CameraText, DisplayWidthCountsTerminalColumns) {
    EXPECT_EQ(DisplayWidth("SIMCAM-F"), 8u);
    EXPECT_EQ(DisplayWidth(kUtf8), 10u);
    EXPECT_EQ(DisplayWidth("ｶﾒﾗ"), 3u) << "half-width katakana";
    EXPECT_EQ(DisplayWidth("ＡＢ"), 4u) << "full-width Latin";
    EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1u) << "a combining accent takes no column";
    EXPECT_EQ(DisplayWidth("\xF0\x9F\x93\xB7"), 2u) << "an emoji";
    EXPECT_EQ(DisplayWidth("\xFF\xFE"), 2u) << "bytes that are no UTF-8 count one each";
    EXPECT_EQ(DisplayWidth("\xC0\xAF"), 2u) << "an over-long form";
    EXPECT_EQ(PadToColumns(kUtf8, 12), kUtf8 + "  ");
    EXPECT_EQ(PadToColumns(kUtf8, 4), kUtf8);
}

TEST(CameraText, TheTableKeepsItsColumnsStraightWithWideNames) {
    std::ostringstream out;
    PrintColumns({{"Name", "IP"}, {kUtf8, "10.0.0.1"}, {"cam", "10.0.0.2"}}, out);
    std::istringstream lines(out.str());
    std::string line;
    std::vector<size_t> at;
    while (std::getline(lines, line)) {
        size_t ip = line.find_first_of("I1");
        at.push_back(DisplayWidth(line.substr(0, ip)));
    }
    ASSERT_EQ(at.size(), 3u);
    EXPECT_EQ(at[0], 12u);
    EXPECT_EQ(at[1], 12u);
    EXPECT_EQ(at[2], 12u);
}
