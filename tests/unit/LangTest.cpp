#include "lang/Lang.h"
#include "base/Text.h"
#include "lang/BuiltInLanguages.h"

#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using testsupport::WriteFile;

TEST(LangEscapes, DecodeInTheirFixedOrder) {
    EXPECT_EQ(DecodeLangEscapes("$b$b$bhe upgrade"), "   he upgrade");
    EXPECT_EQ(DecodeLangEscapes("a$cb"), "a=b");
    EXPECT_EQ(DecodeLangEscapes("50$$"), "50$");
    EXPECT_EQ(DecodeLangEscapes("x$ty"), "x\ty");
    EXPECT_EQ(DecodeLangEscapes("l1$nl2"), "l1\r\nl2");
    EXPECT_EQ(DecodeLangEscapes("$$n"), "$\r\n");
    EXPECT_EQ(DecodeLangEscapes("$$t"), "\t");
    EXPECT_EQ(DecodeLangEscapes("$B stays"), "$B stays");
    EXPECT_EQ(DecodeLangEscapes("$$b"), "$ "); // "$b" is found inside "$$b" first
}

TEST(LangFont, FacesCharsetsAndSizes) {
    TLangFont f{"Arial", 0, 8};
    ApplyLangFont("jp", f);
    EXPECT_EQ(f.Face, "Tahoma");
    EXPECT_EQ(f.Charset, SHIFTJIS_CHARSET);
    EXPECT_EQ(f.Size, 9);
    TLangFont e{"Arial", 0, 9};
    ApplyLangFont("en", e);
    EXPECT_EQ(e.Face, "Tahoma");
    EXPECT_EQ(e.Charset, DEFAULT_CHARSET);
    EXPECT_EQ(e.Size, 8);
    TLangFont big{"Arial", 0, 12};
    ApplyLangFont("en", big);
    EXPECT_EQ(big.Size, 12);
    TLangFont cn{"", 0, 8};
    ApplyLangFont("cn", cn);
    EXPECT_EQ(cn.Face, "宋体");
    EXPECT_EQ(cn.Charset, GB2312_CHARSET);
    EXPECT_EQ(cn.Size, 9);
    TLangFont b5{"", 0, 9};
    ApplyLangFont("b5", b5);
    EXPECT_EQ(b5.Face, "PMingLiU");
    EXPECT_EQ(b5.Charset, CHINESEBIG5_CHARSET);
    EXPECT_EQ(b5.Size, 9);
}

class Lang : public testsupport::TSandbox {
  protected:
    void SetUp() override {
        TSandbox::SetUp();
        SetLangDir(Root);
        SetLanguage("en");
    }
    void TearDown() override {
        SetLangDir("");
        SetLanguage("en");
        TSandbox::TearDown();
    }
    void Write(const std::string& code, const std::string& content) {
        WriteFile(Root + LangFileName(code), content);
    }
};

TEST_F(Lang, FilePathIsFolderPlusProgramNameWithLanguageExtension) {
    std::string exe = platform::ExePath();
    std::string name = exe.substr(exe.rfind('/') + 1);
    EXPECT_EQ(LangFileName("jp"),
              name.substr(0, name.rfind('.') == std::string::npos ? name.size() : name.rfind('.')) + ".ljp");
    EXPECT_EQ(LangFilePath(), Root + LangFileName("en"));
}

TEST_F(Lang, LookupIsCaseInsensitiveAndCachedButMissesAreNot) {
    Write("en", "[StrRes]\r\nIDS_NOPORT=Please input a valid port.\r\nIDS_EMPTY=\r\n");
    EXPECT_EQ(GetLangStr("ids_noport"), "Please input a valid port.");
    Write("en", "[StrRes]\r\nIDS_NOPORT=changed\r\nIDS_EMPTY=now set\r\nIDS_LATE=late\r\n");
    EXPECT_EQ(GetLangStr("IDS_NOPORT"), "Please input a valid port."); // from the cache
    EXPECT_EQ(GetLangStr("IDS_EMPTY"), "now set");                     // an empty text was never cached
    EXPECT_EQ(GetLangStr("IDS_LATE"), "late");
    EXPECT_EQ(GetLangStr(""), "");
    SetLanguage("en"); // drops the cache
    EXPECT_EQ(GetLangStr("IDS_NOPORT"), "changed");
}

TEST_F(Lang, SetLanguageSwitchesAndFallsBackToEnglish) {
    Write("en", "[StrRes]\r\nIDS_ERROR=ERROR\r\n");
    Write("jp", StoredLanguageFile("jp"));
    EXPECT_EQ(GetLangStr("IDS_ERROR"), "ERROR");
    SetLanguage("jp");
    EXPECT_EQ(CurLang(), "jp");
    EXPECT_EQ(GetLangStr("IDS_ERROR"), "エラー");
    SetLanguage("cn");
    EXPECT_EQ(CurLang(), "en");
    EXPECT_EQ(GetLangStr("IDS_ERROR"), "ERROR");
}

TEST_F(Lang, ValuesAreDecodedFromTheirLanguagesCodePage) {
    // GBK for English and Chinese, Shift-JIS for Japanese, CP1252 for the others, UTF-8 when the
    // file is valid UTF-8 or says so with a byte-order mark.
    Write("en", "[StrRes]\r\nIDS_A=Type\xA3\xBA\r\n");
    EXPECT_EQ(GetLangStr("IDS_A"), "Type：");
    Write("fr", "[StrRes]\r\nIDS_A=caf\xE9\r\n");
    SetLanguage("fr");
    EXPECT_EQ(GetLangStr("IDS_A"), "café");
    Write("b5", "[StrRes]\r\nIDS_A=\xA4\xA4\xA4\xE5\r\n");
    SetLanguage("b5");
    EXPECT_EQ(GetLangStr("IDS_A"), "中文");
    Write("cn", "\xEF\xBB\xBF[StrRes]\r\nIDS_A=中文 ok\r\n");
    SetLanguage("cn");
    EXPECT_EQ(GetLangStr("IDS_A"), "中文 ok");
    Write("cn", "[StrRes]\r\nIDS_A=\xD6\xD0\xCE\xC4\r\n");
    SetLanguage("cn");
    EXPECT_EQ(GetLangStr("IDS_A"), "中文");
    // A file that says it is UTF-8 but is not: five-byte forms and code points past U+10FFFF
    // are no UTF-8 and never come out as such.
    Write("cn", "\xEF\xBB\xBF[StrRes]\r\nIDS_A=a\xF8\x88\x80\x80\x80"
                "b\xF4\x90\x80\x80"
                "c\r\n");
    SetLanguage("cn");
    std::string v = GetLangStr("IDS_A");
    EXPECT_TRUE(IsValidUtf8(v)) << v;
    EXPECT_EQ(v.front(), 'a');
    EXPECT_EQ(v.back(), 'c');
    EXPECT_NE(v.find("\xEF\xBF\xBD"), std::string::npos);
}

TEST_F(Lang, TextOfAnySectionAndDefaultsAreDecodedToo) {
    Write("en", "[Form_frmUpgradeSoft]\r\nCaption=Tool$bcaption\r\nEmpty=\r\n");
    EXPECT_EQ(GetLangText("Form_frmUpgradeSoft", "Caption"), "Tool caption");
    EXPECT_EQ(GetLangText("Form_frmUpgradeSoft", ""), "");
    EXPECT_EQ(GetLangText("", "Caption"), "");
    TLangReader r(LangFilePath());
    EXPECT_EQ(ReadLangValue(r, "Form_frmUpgradeSoft", "Missing", "a$cb$n"), "a=b\r\n");
    EXPECT_EQ(ReadLangValue(r, "Form_frmUpgradeSoft", "Empty", "default"), "");
}

TEST_F(Lang, MissingFileGivesTheBuiltInEnglishMessages) {
    // A log line is never empty, also when no language file can be read.
    EXPECT_EQ(GetLangStr("IDS_NOPORT"), "Please input a valid port.");
    EXPECT_EQ(GetLangStr("IDS_NO_SUCH_KEY"), "");
    EXPECT_EQ(GetLangText("Global", "order"), "");
}

TEST_F(Lang, MessageBoxTakesTextAndCaptionByKey) {
    Write("en", "[StrRes]\r\nIDS_NOTE=Note text\r\nIDS_INFORMATION=INFORMATION\r\n");
    Boxes->Answer(platform::IDOK);
    EXPECT_EQ(LangMessageBox("IDS_NOTE", "IDS_INFORMATION", 64), platform::IDOK);
    ASSERT_EQ(Boxes->Shown().size(), 1u);
    EXPECT_EQ(Boxes->Shown()[0].Text, "Note text");
    EXPECT_EQ(Boxes->Shown()[0].Caption, "INFORMATION");
    EXPECT_EQ(Boxes->Shown()[0].Flags, 64);
}

TEST_F(Lang, LookupsFromManyThreadsAgree) {
    std::string content = "[StrRes]\r\n";
    for (int i = 0; i < 50; ++i)
        content += "IDS_K" + std::to_string(i) + "=text " + std::to_string(i) + "\r\n";
    Write("en", content);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                int i = (round * 7 + t) % 50;
                if (GetLangStr("ids_k" + std::to_string(i)) != "text " + std::to_string(i)) ++wrong;
                if (round % 10 == 0 && t == 0) SetLanguage("en");
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong, 0);
}
