#include "lang/BuiltInLanguages.h"
#include "lang/Charset.h"
#include "lang/IniFile.h"
#include "lang/Lang.h"

#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct TKeyText {
    const char* Section;
    const char* Key;
    const char* Text; // as stored, escapes undecoded; null where the text is ours to write
};

// Every key the stored English file must carry, with its text.
const TKeyText kEnglishKeys[] = {
    {"StrRes", "IDS_SOFTMEMO",
     "$b$b$bhe upgrade software for IP Cam Version1.1, You can use this software to upgrade the user "
     "interface rom and system rom.The user interface rom is a package which consists of functions used for "
     "the interactive between$n     users and IP Cam.The system rom is a package which consists of the basic "
     "and important functions the IP Cam provided.Notice: Upgrading is a risky job!"},
    {"StrRes", "IDS_ERROR", "ERROR"},
    {"StrRes", "IDS_WARNING", "WARNING"},
    {"StrRes", "IDS_CONFIRM", "CONFIRM"},
    {"StrRes", "IDS_INFORMATION", "INFORMATION"},
    {"StrRes", "IDS_NOIPCTYPE", "Please choose device type!"},
    {"StrRes", "IDS_NOLOGINUSER", "User cannot by empty!"},
    {"StrRes", "IDS_NOMCODE", "Please input the device code"},
    {"StrRes", "IDS_READIPCERROR", "Error on reading the device information!"},
    {"StrRes", "IDS_NOIPADDR", "The IP address cannot be empty!"},
    {"StrRes", "IDS_NOPORT", "Please input a valid port."},
    {"StrRes", "IDS_PORTERROR", "Port is error!"},
    {"StrRes", "IDS_NOWEBCONNECT",
     "Failed on getting configuration files, please check if the pc already connect to Internet."},
    {"StrRes", "IDS_NOIPCCONNECT",
     "IP Cam cannot be accessed, please check the device to make sure it work correctly."},
    {"StrRes", "IDS_PASSWORDERROR", "Login name or password is wrong!"},
    {"StrRes", "IDS_IPCCONNECTED", "Device connected normally"},
    {"StrRes", "IDS_VERSIONERROR", "Failed on reading present version information."},
    {"StrRes", "IDS_CURRVERSION", "The version of present device rom is :"},
    {"StrRes", "IDS_DOWNFIRMERR", "Failed to read version information of the latest rom."},
    {"StrRes", "IDS_HIGHVERSION", "The version of latest  device rom is :"},
    {"StrRes", "IDS_ISUPDATEFIRM",
     "This version is already the latest one, do you still want to upgrade rom?"},
    {"StrRes", "IDS_NOUPDATEFIRM", "It is the latest one, there is no need to upgrade !"},
    {"StrRes", "IDS_NONEWVERSION", "The version for upgrading is no available."},
    {"StrRes", "IDS_DOWNLOADING", "Downloading rom for upgrading..."},
    {"StrRes", "IDS_DOWNLOADERR", "Failed to get ROM for upgrading."},
    {"StrRes", "IDS_MD5ERROR", "Update check failed!"},
    {"StrRes", "IDS_UNZIPERROR", "Upgrade package decompression failure!"},
    {"StrRes", "IDS_UNKNOWERROR", "Unknown causes gets update failed!"},
    {"StrRes", "IDS_UPGRADING",
     "Begin to upgrade device''s rom, please hold the connection of the device normally."},
    {"StrRes", "IDS_UPGRADED",
     "Successfully upgrade ROM, it is going to reboot the device, please wait....."},
    {"StrRes", "IDS_IPCWORKING", "IP Cam is Working!"},
    {"StrRes", "IDS_IPCNOTWORK",
     "Network camera reset aberrant, please check whether the camera is to restart the failed or IP "
     "changes!"},
    {"StrRes", "IDS_UPGRADEFILEERR", "Error on reading ROM for upgrade."},
    {"StrRes", "IDS_UPGRADESUCC", "Successfully upgrading!"},
    {"StrRes", "IDS_UPGRADEFAIL", "Upgrade failed:"},
    {"StrRes", "IDS_IPCCONNETERR", "IP camera connected failure!"},
    {"StrRes", "IDS_UPGRADEFILEFAIL",
     "Upgrade file verification failed, please choose the correct upgrade file!"},
    {"StrRes", "IDS_LOGINERROR", "IP camera login failed, please check the user and password!"},
    {"StrRes", "IDS_EXITIPCERR", "IP camera exit current mode operation failed!"},
    {"StrRes", "IDS_CLOSEIPCERROR", "Closed IP camera connection failed!"},
    {"StrRes", "IDS_INITWSADATAERR", "WsaData initialization error!"},
    {"StrRes", "IDS_CRTSOCKETERR", "Creates a Socket connection error!"},
    {"StrRes", "IDS_NOTE",
     "Notice: Upgrading  ROM requires  the log-in users with highest privilege to process."},
    {"StrRes", "IDS_VERSION", nullptr},
    {"StrRes", "IDS_UPGRADEINFO", "upgrading firmware, please wait."},
    {"StrRes", "IDS_ENTERUPGRADEERR", "IP Camera access to upgrade the mode of failure!"},
    {"StrRes", "IDS_DEVCOUNT", "IPCam Number:"},
    {"Form_frmUpgradeSoft", "Caption", "The upgrade software for IP Cam, Version1.1"},
    {"Form_frmUpgradeSoft", "lblSoftName.Caption", "T"},
    {"Form_frmUpgradeSoft", "lblSoftMemo.Caption",
     "$b$b$bhe upgrade software for IP Cam Version1.1, Upgrade system rom automatically by using this "
     "tool.System rom is a package consisting basic and important functions IP Cam provided.Notice: "
     "Upgrading is risky, if having something unclear,please contact to our tech support---"},
    {"Form_frmUpgradeSoft", "lblIPCType.Caption", "IP Cam Type："},
    {"Form_frmUpgradeSoft", "lblIPCUser.Caption", "Account:"},
    {"Form_frmUpgradeSoft", "lblIPCPwd.Caption", "Password:"},
    {"Form_frmUpgradeSoft", "cmbMType.Items0.Caption", "E series"},
    {"Form_frmUpgradeSoft", "cmbMType.Items1.Caption", "F series"},
    {"Form_frmUpgradeSoft", "cmbMType.Items2.Caption", "H series"},
    {"Form_frmUpgradeSoft", "cmbMType.Items3.Caption", "T series"},
    {"Form_frmUpgradeSoft", "TabSheet1.Caption", "Use the IP address to Upgrade rom"},
    {"Form_frmUpgradeSoft", "TabSheet2.Caption", "Use the device code to upgrade rom"},
    {"Form_frmUpgradeSoft", "lblIPMemo.Caption",
     "$b$b click on the \"search LAN camera\" button, select the current LAN online IP camera or direct "
     "entry IP camera IP address and port, click the appropriate \"to upgrade the system firmware\" button, "
     "to complete the new firmware version of the lookup and update.The $n$b$b camera default account for "
     "the admin, password is 530274, as amended, please upgrade before input account and password."},
    {"Form_frmUpgradeSoft", "lblIPCIP.Caption", "IP address:"},
    {"Form_frmUpgradeSoft", "lblIPCPort.Caption", "Port:"},
    {"Form_frmUpgradeSoft", "btnUpgrdUIByIP.Caption", "Upgrade UI"},
    {"Form_frmUpgradeSoft", "btnUpgrdSysByIP.Caption", "Upgrade Firmware"},
    {"Form_frmUpgradeSoft", "lblMCodeMemo.Caption", nullptr},
    {"Form_frmUpgradeSoft", "lblmCode.Caption", "Device code:"},
    {"Form_frmUpgradeSoft", "btnUpgrdUIByMCode.Caption", "Upgrade UI"},
    {"Form_frmUpgradeSoft", "btnUpgrdSysByMCode.Caption", "Upgrade Firmware"},
    {"Form_frmUpgradeSoft", "GroupBox3.Caption", "Operation Log"},
    {"Form_frmUpgradeSoft", "btnFindCam.Caption", "Search LAN IP camera"},
    {"Form_frmUpgradeSoft", "Label1.Caption", "Language:"},
    {"Form_frmAdv_Main", "Caption", "Select IP Camera"},
    {"Form_frmAdv_Main", "btnOK.Caption", "&OK"},
    {"Form_frmAdv_Main", "btnCancel.Caption", "&Cancel"},
    {"Form_frmAdv_Main", "btnFind.Caption", "&Find"},
    {"Form_frmAdv_Main", "GroupBox1.Caption", "IP Camera List"},
    {"Form_frmAdv_Main", "lblDevNum.Caption", "IPCamera Number："},
    {"Form_frmAdv_Main", "ListView.Columns0.Caption", "Type"},
    {"Form_frmAdv_Main", "ListView.Columns1.Caption", "Name"},
    {"Form_frmAdv_Main", "ListView.Columns2.Caption", "IP address"},
    {"Form_frmAdv_Main", "ListView.Columns3.Caption", "Port"},
    {"Form_frmAdv_Main", "plInfo.Caption", "There is no camera found in the LAN."},
};

TIniFile StoredIni(const char* code) {
    return TIniFile("stored", StoredLanguageFile(code));
}

} // namespace

TEST(StoredLanguageFiles, EnglishHasEveryListedKeyWithItsText) {
    TIniFile en = StoredIni("en");
    for (const TKeyText& k : kEnglishKeys) {
        auto raw = en.Lookup(k.Section, k.Key);
        ASSERT_TRUE(raw.has_value()) << k.Section << " " << k.Key;
        std::string text = ToUtf8(*raw, "CP936");
        if (!k.Text)
            EXPECT_FALSE(text.empty()) << k.Key;
        else if (std::string(k.Key) == "lblSoftMemo.Caption") {
            EXPECT_EQ(text.substr(0, std::string(k.Text).size()), k.Text);
            EXPECT_NE(text.find("---QQ:"), std::string::npos);
        } else {
            EXPECT_EQ(text, k.Text) << k.Section << " " << k.Key;
        }
    }
    EXPECT_EQ(en.ReadString("Global", "order", ""), "1");
    EXPECT_EQ(en.ReadString("Global", "Name_en", ""), "English");
    EXPECT_EQ(ToUtf8(en.ReadString("Global", "Name_jp", ""), "CP936"), "日语");
    EXPECT_NE(en.ReadString("StrRes", "IDS_RUNNED", "").find("%s"), std::string::npos);
}

TEST(StoredLanguageFiles, StoredBytesAreCodePageTextWithCrLf) {
    for (const char* code : {"en", "jp"}) {
        std::string bytes = StoredLanguageFile(code);
        ASSERT_FALSE(bytes.empty());
        EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << code;
        for (size_t p = bytes.find('\n'); p != std::string::npos; p = bytes.find('\n', p + 1))
            ASSERT_EQ(bytes[p - 1], '\r') << code << " at " << p;
        EXPECT_FALSE(IsValidUtf8(bytes)) << code << " must be stored in its code page";
    }
    // The full-width colon of the English file is GBK A3 BA.
    EXPECT_EQ(StoredIni("en").ReadString("Form_frmUpgradeSoft", "lblIPCType.Caption", ""),
              "IP Cam Type\xA3\xBA");
}

TEST(StoredLanguageFiles, JapaneseDecodesAsShiftJisWithTheSameSectionsAndKeys) {
    TIniFile en = StoredIni("en"), jp = StoredIni("jp");
    EXPECT_EQ(jp.ReadSections(), en.ReadSections());
    for (const std::string& s : en.ReadSections())
        EXPECT_EQ(jp.ReadSection(s), en.ReadSection(s)) << s;
    std::string error = ToUtf8(jp.ReadString("StrRes", "IDS_ERROR", ""), "CP932");
    EXPECT_EQ(error, "エラー");
    EXPECT_EQ(ToUtf8(jp.ReadString("Global", "Name_jp", ""), "CP932"), "日本語");
    std::string all = ToUtf8(StoredLanguageFile("jp"), "CP932");
    EXPECT_EQ(all.find("\xEF\xBF\xBD"), std::string::npos) << "every byte decodes";
    EXPECT_NE(ToUtf8(jp.ReadString("StrRes", "IDS_RUNNED", ""), "CP932").find("%s"), std::string::npos);
}
