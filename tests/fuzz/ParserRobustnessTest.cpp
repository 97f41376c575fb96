// Hostile and random bytes for every parser that reads what a camera, a firmware server or a
// file sends. Run under the sanitizers by the test script: any out-of-bounds read fails there.
#include "lang/IniFile.h"
#include "transport/DeviceControlLibrary.h"
#include "transport/CtpSession.h"
#include "upgrade/ESeries.h"
#include "upgrade/FSeries.h"
#include "upgrade/PackageFiles.h"

#include "SimImage.h"
#include "SimPk2.h"
#include "SimZip.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Random bytes biased towards the characters the formats give meaning to.
std::string Noise(std::mt19937& rng, size_t maxLen) {
    static const char special[] = "[]=;'\"\r\n\t $-.:0123456789REPLYversionsys_verapp_verFILECMD ";
    std::string s(rng() % (maxLen + 1), '\0');
    for (char& c : s)
        c = rng() % 3 ? special[rng() % (sizeof special - 1)] : static_cast<char>(rng());
    return s;
}

std::string Mutate(std::mt19937& rng, std::string s) {
    for (int i = 0, n = 1 + static_cast<int>(rng() % 8); i < n && !s.empty(); ++i) {
        size_t at = rng() % s.size();
        switch (rng() % 4) {
        case 0:
            s[at] = static_cast<char>(rng());
            break;
        case 1:
            s.erase(at, 1 + rng() % 16);
            break;
        case 2:
            s.insert(at, std::string(1 + rng() % 4, static_cast<char>(rng())));
            break;
        default:
            s.resize(at);
            break;
        }
    }
    return s;
}

} // namespace

TEST(ParserRobustness, TextParsers) {
    std::mt19937 rng(20261209);
    for (int i = 0; i < 4000; ++i) {
        std::string text = Noise(rng, 600);
        TIniFile ini("/nonexistent", text);
        for (const std::string& s : ini.ReadSections())
            ini.ReadSection(s);
        ini.ReadString("StrRes", "IDS_ERROR", "");
        TCtpSearchRecord r;
        ParseCtpSearchReply("REPLY" + text, r);
        EXPECT_LE(r.Version.size(), 48u);
        EXPECT_LE(r.DevName.size(), 50u);
        StatusValue(text, "sys_ver", '\'');
        TTZoltSeries::CgiValue(text, "sys_ver");
        ESectionName(text);
        ESameVersion(text, Noise(rng, 20));
        sim::ImageVersion(text);
    }
}

class FileRobustness : public testsupport::TSandbox {};

TEST_F(FileRobustness, PackagesAndArchives) {
    std::mt19937 rng(7);
    std::string pk2 = sim::Pk2Bytes({{"FILE", "a.img", std::string(300, 'x')}, {"CMD ", "", "go"}});
    testsupport::WriteFile(Temp + "good.zip", "");
    sim::WriteZip(Temp + "good.zip",
                  {{"dir/", "", sim::TZipEntry::Dir}, {"pkg.bin", std::string(5000, 'p')}});
    std::string zip = testsupport::ReadFile(Temp + "good.zip");
    for (int i = 0; i < 1500; ++i) {
        testsupport::WriteFile(Temp + "p.pk2", Mutate(rng, pk2));
        if (TSocketThread::IsPackageFile(Temp + "p.pk2")) TSocketThread::CheckPackageLimits(Temp + "p.pk2");
        testsupport::WriteFile(Temp + "z.zip", Mutate(rng, zip));
        TUpgradeOpt::UnzipFile(Temp + "z.zip", Temp + "pkg.bin");
    }
    // Nothing ever lands outside the folder.
    EXPECT_FALSE(testsupport::Exists(Root + "pkg.bin"));
}
