// Texts from the network as they are shown: the one escaping rule in every output, and the
// datagram rules for texts and numbers.
#include "base/Text.h"
#include "cli/Output.h"
#include "discovery/SearchReplies.h"
#include "transport/DeviceControlLibrary.h"
#include "transport/CtpSession.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

const std::string kRlo = "\xE2\x80\xAE"; // U+202E RIGHT-TO-LEFT OVERRIDE
const std::string kCsi = "\xC2\x9B";     // U+009B CONTROL SEQUENCE INTRODUCER

} // namespace

TEST(ShownText, C1ControlsBidiOverridesAndBadUtf8FollowOneRule) {
    EXPECT_EQ(EscapeControls("bidi-" + kRlo + "gpj.exe"), "bidi-\\u202Egpj.exe");
    EXPECT_EQ(EscapeControls(kCsi + "2J"), "\\u009B2J");
    EXPECT_EQ(EscapeControls("\xC2\x80|\xC2\x9F|\xC2\xA0"), "\\u0080|\\u009F|\xC2\xA0") << "C1 only";
    for (const char* cp : {"\xE2\x80\xAA", "\xE2\x80\xAD", "\xE2\x81\xA6", "\xE2\x81\xA9", "\xE2\x80\xA8"})
        EXPECT_EQ(EscapeControls(cp).substr(0, 2), "\\u") << cp;
    EXPECT_EQ(EscapeControls("\xE2\x80\xA9\xE2\x81\xAA"), "\\u2029\xE2\x81\xAA") << "isolates end at U+2069";
    EXPECT_EQ(EscapeControls(std::string("a\x1B[2J\x07\r\n\t\\\x7F", 11)),
              "a\\x1B[2J\\x07\\r\\n\\t\\\\\\x7F");
    // Invalid UTF-8 is U+FFFD in the log as in the table and JSON; Japanese stays as it is.
    EXPECT_EQ(EscapeControls("v\xFF\xC0\xAF"), "v\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(EscapeControls("\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9"), "\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9");
    EXPECT_EQ(JsonString("v\xFF"), "\"v\xEF\xBF\xBD\"");
    // JSON carries the same code points as JSON escapes, so a reader gets the text back.
    EXPECT_EQ(JsonString("bidi-" + kRlo + "x" + kCsi + std::string("\x01\x7F", 2)),
              "\"bidi-\\u202ex\\u009b\\u0001\\u007f\"");
    EXPECT_EQ(JsonString("\xC2\xA0\xE2\x80\x8B\xF0\x9F\x93\xB7"), "\"\xC2\xA0\xE2\x80\x8B\xF0\x9F\x93\xB7\"");
}

TEST(ShownText, CsvCellsNeverStartAFormulaAndShowControlsAsTheTableDoes) {
    EXPECT_EQ(CsvField("=HYPERLINK(\"http://x.invalid/\",\"click\")"),
              "\"'=HYPERLINK(\"\"http://x.invalid/\"\",\"\"click\"\")\"");
    for (const char* lead : {"+1", "-1", "@SUM(A1)", "=1"})
        EXPECT_EQ(CsvField(lead), std::string("'") + lead) << lead;
    EXPECT_EQ(CsvField("\tx"), "\\tx") << "escaped first, so no cell starts with a TAB";
    EXPECT_EQ(CsvField(std::string("cam\x1B]0;title\x07\0x", 15)), "cam\\x1B]0;title\\x07\\x00x");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("192.168.1.9"), "192.168.1.9");
    EXPECT_EQ(CsvField(kRlo + "x"), "\\u202Ex");
}

TEST(ShownText, DatagramTextsEndAtTheirFirstZeroByteAndNumbersFitThirtyTwoBits) {
    TDevInfo r;
    ParseTextReply("REPLY\r\n-name nul-\0hidden\r\n-version 1.2\0.3"s, r);
    EXPECT_EQ(r.DevName, "nul-");
    EXPECT_EQ(r.Version, "1.2");
    TCtpSearchRecord c;
    ASSERT_TRUE(ParseCtpSearchReply("REPLY\r\n-name nul-\0hidden\r\n-portctp 81\0 9"s, c));
    EXPECT_EQ(c.DevName, "nul-");
    EXPECT_EQ(c.CtpPort, 81);

    auto zolt = [](const std::string& version) {
        std::string d(516, '\0');
        d.replace(0, 4, std::string("\x44\x48\x01\x08", 4));
        d.replace(204, version.size(), version);
        return d;
    };
    EXPECT_FALSE(ParseZoltReply(zolt("1.2.3000000000"), r)) << "does not fit a 32-bit int";
    EXPECT_FALSE(ParseZoltReply(zolt("1.2.-2147483649"), r));
    EXPECT_FALSE(ParseZoltReply(zolt("1.2.99999999999999999999"), r));
    ASSERT_TRUE(ParseZoltReply(zolt("1.2.2147483647"), r));
    EXPECT_EQ(r.DevType, 10);
    ASSERT_TRUE(ParseZoltReply(zolt("1.2.-5"), r));
    EXPECT_EQ(r.DevType, 9);
}
