#include "lang/IniFile.h"

#include "support/Sandbox.h"

#include <gtest/gtest.h>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

TIniFile Ini(const std::string& text) {
    return TIniFile("/nonexistent/unused.ini", text);
}

} // namespace

TEST(IniFile, NamesIgnoreLetterCaseAndBlanks) {
    auto ini = Ini("[Global]\r\n  Lan  =  jp  \r\n[ StrRes ]\r\nIDS_X=1\r\n");
    EXPECT_EQ(ini.ReadString("GLOBAL", "lan", "d"), "jp");
    EXPECT_EQ(ini.ReadString(" global ", " LAN ", "d"), "jp");
    EXPECT_EQ(ini.ReadString("strres", "ids_x", "d"), "1");
}

TEST(IniFile, RequestedSectionNameWithTrailingBlankFindsItsSection) {
    auto ini = Ini("[47.2.3]\nSysVer=47.2.3.20\n");
    EXPECT_EQ(ini.ReadString("47.2.3 ", "SysVer", ""), "47.2.3.20");
}

TEST(IniFile, SectionNameRunsToTheLastBracket) {
    auto ini = Ini("[a]b]\nk=v\n[c] ; note\nk=w\n");
    EXPECT_EQ(ini.ReadString("a]b", "k", ""), "v");
    EXPECT_EQ(ini.ReadString("a", "k", "none"), "none");
}

TEST(IniFile, TabsAndCarriageReturnsAreBlanks) {
    auto ini = Ini("\t[S]\t\r\n\tkey\t=\tvalue with  inner  blanks\t\r\r\n");
    EXPECT_EQ(ini.ReadString("S", "key", ""), "value with  inner  blanks");
}

TEST(IniFile, FirstSectionAndFirstKeyWin) {
    auto ini = Ini("[S]\nk=first\nk=second\n[s]\nk=third\nonly=late\n");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "first");
    // The second section of the same name is never searched.
    EXPECT_EQ(ini.ReadString("S", "only", "default"), "default");
}

TEST(IniFile, MatchingQuotesAreStripped) {
    auto ini = Ini("[S]\na=\"quoted\"\nb='single'\nc=\"mixed'\nd=\"\ne=\"\"\nf=\"a\" b\"\n");
    EXPECT_EQ(ini.ReadString("S", "a", ""), "quoted");
    EXPECT_EQ(ini.ReadString("S", "b", ""), "single");
    EXPECT_EQ(ini.ReadString("S", "c", ""), "\"mixed'");
    EXPECT_EQ(ini.ReadString("S", "d", ""), "\"");
    EXPECT_EQ(ini.ReadString("S", "e", "x"), "");
    EXPECT_EQ(ini.ReadString("S", "f", ""), "a\" b");
}

TEST(IniFile, ValueIsCutAt2047Bytes) {
    auto ini = Ini("[S]\nlong=" + std::string(3000, 'z') + "\n");
    EXPECT_EQ(ini.ReadString("S", "long", "").size(), 2047u);
}

TEST(IniFile, ValueKeepsEqualsSignsAndKeysBeforeAnySectionAreIgnored) {
    auto ini = Ini("k=outside\n[S]\nurl=http://a/b?c=d\n");
    EXPECT_EQ(ini.ReadString("S", "url", ""), "http://a/b?c=d");
    EXPECT_EQ(ini.ReadString("", "k", "def"), "def");
    EXPECT_EQ(ini.ReadString("S", "k", "def"), "def");
}

TEST(IniFile, MissingFileSectionOrKeyGiveTheDefault) {
    TIniFile missing("/nonexistent/file.ini");
    EXPECT_FALSE(missing.Exists());
    EXPECT_EQ(missing.ReadString("S", "k", "dflt"), "dflt");
    auto ini = Ini("[S]\nk=v\n");
    EXPECT_EQ(ini.ReadString("T", "k", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("S", "x", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("S", "", "dflt"), "dflt");
}

TEST(IniFile, ListsSectionsAndKeysOnce) {
    auto ini = Ini("[A]\nx=1\ny=2\nX=3\n[B]\n[a]\nz=1\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ini.ReadSection("a"), (std::vector<std::string>{"x", "y"}));
}

class IniWrite : public testsupport::TSandbox {};

TEST_F(IniWrite, ReplacesInPlaceAndKeepsEveryOtherLine) {
    std::string path = Root + "option.ini";
    WriteFile(path, "; comment\r\n[Global]\r\nLan = en\r\nother=1\r\n\r\n[Next]\r\nk=v\r\n");
    TIniFile ini(path);
    ASSERT_TRUE(ini.WriteString("global", "LAN", "jp"));
    EXPECT_EQ(ReadFile(path), "; comment\r\n[Global]\r\nLAN=jp\r\nother=1\r\n\r\n[Next]\r\nk=v\r\n");
    ASSERT_TRUE(ini.WriteString("Global", "added", "x"));
    EXPECT_EQ(ReadFile(path),
              "; comment\r\n[Global]\r\nLAN=jp\r\nother=1\r\nadded=x\r\n\r\n[Next]\r\nk=v\r\n");
    EXPECT_EQ(TIniFile(path).ReadString("GLOBAL", "added", ""), "x");
}

TEST_F(IniWrite, AddsSectionToNewFileAndKeepsLineEndStyle) {
    std::string path = Root + "new.ini";
    TIniFile ini(path);
    ASSERT_TRUE(ini.WriteString("Global", "lan", "cn"));
    EXPECT_EQ(ReadFile(path), "[Global]\r\nlan=cn\r\n");
    std::string lf = Root + "lf.ini";
    WriteFile(lf, "[A]\nk=1\n");
    TIniFile ini2(lf);
    ASSERT_TRUE(ini2.WriteString("B", "k", "2"));
    EXPECT_EQ(ReadFile(lf), "[A]\nk=1\n[B]\nk=2\n");
}

TEST_F(IniWrite, RefusesLineBreaksAndFailsCleanlyInAMissingFolder) {
    std::string path = Root + "x.ini";
    TIniFile ini(path);
    EXPECT_FALSE(ini.WriteString("S", "k", "a\r\n[Evil]"));
    EXPECT_FALSE(testsupport::Exists(path));
    TIniFile nowhere(Root + "missing/dir/x.ini");
    EXPECT_FALSE(nowhere.WriteString("S", "k", "v"));
}
