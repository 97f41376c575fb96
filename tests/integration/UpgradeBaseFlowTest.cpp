#include "upgrade/PackageFiles.h"
#include "upgrade/UpgradeObject.h"

#include "support/ServerSandbox.h"
#include "support/TestHttpServer.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class TSys : public TSysUpgradeObject {
  public:
    using TUpgradeObject::FOEMName;
};

class TUI : public TUIUpgradeObject {
  public:
    using TUpgradeObject::FOEMName;
};

class UpgradeFlow : public TServerSandbox {
  protected:
    template <class T> void Aim(T& u) {
        u.SetIP("127.0.0.1");
        u.SetPort(Srv.Port());
        u.SetFirmwareServer(ServerURL());
    }
    // A package holding image bytes under the name the package name gives, and its digest.
    std::string Package(const std::string& zipName, const std::string& imageName, const std::string& image) {
        std::string path = Root + zipName;
        WriteZip(path, {{imageName, image}});
        return path;
    }
};

} // namespace

TEST_F(UpgradeFlow, LoginCodes) {
    TSys u;
    Aim(u);
    u.SetUser(" Admin ");
    u.SetPassword("PW");
    Srv.On("/oem.txt", Answer(200, "OEMX\r\n"));
    EXPECT_EQ(u.Login(), 0);
    EXPECT_EQ(u.FOEMName, "OEMX\r\n");
    EXPECT_EQ(HeaderOf(Srv.Requests().back(), "Authorization"), "Basic YWRtaW46cHc=");
    EXPECT_EQ(RequestLine(Srv.Requests().back()), "GET /oem.txt HTTP/1.1");

    Srv.On("/oem.txt", Answer(401, "<html>401 Unauthorized</html>"));
    EXPECT_EQ(u.Login(), 1);
    EXPECT_EQ(u.FOEMName, "");
    Srv.On("/oem.txt", Answer(200, ""));
    EXPECT_EQ(u.Login(), 1);
    // Any other page, whatever its status, counts as logged in.
    Srv.On("/oem.txt", Answer(500, "server trouble"));
    EXPECT_EQ(u.Login(), 0);
    EXPECT_EQ(u.FOEMName, "server trouble");
    Srv.On("/oem.txt", Answer(200, "unauthorized in small letters"));
    EXPECT_EQ(u.Login(), 0);

    Srv.Stop();
    EXPECT_EQ(u.Login(), 2);
    EXPECT_EQ(u.FOEMName, "");
}

TEST_F(UpgradeFlow, AppVerRules) {
    TUI ui;
    Aim(ui);
    struct TCase {
        std::string Body;
        bool Ok;
        std::string Version, Model;
    } cases[] = {
        {"var app_model=\"FX1\";\nvar app_ver=\"v1.2.3.40\";", true, "1.2.3.40", "FX1"},
        {"var app_ver=\"V1.2.3.40\";", true, "V1.2.3.40", ""},
        {"app_ver=\"version1\";", true, "ersion1", ""},
        {"app_ver=\" v 2.0 \";", true, "2.0", ""},
        {"app_ver=\"1.0", true, "", ""}, // no closing quote: empty, still read
        {"app_model=\"M\";", false, "", "M"},
        {"app_ver", true, "", ""},
    };
    for (const auto& c : cases) {
        Srv.On("/appver.js", Answer(200, c.Body));
        EXPECT_EQ(ui.ReadCurrentVersion(), c.Ok) << c.Body;
        EXPECT_EQ(ui.GetCurVersion(), c.Version) << c.Body;
        EXPECT_EQ(ui.GetModel(), c.Model) << c.Body;
    }
    TSys sys;
    Aim(sys);
    sys.SetModel("kept");
    Srv.On("/appver.js", Answer(200, "var app_model=\"H9\";"));
    EXPECT_TRUE(sys.ReadCurrentVersion());
    EXPECT_EQ(sys.GetModel(), "H9");
    EXPECT_EQ(sys.GetCurVersion(), "");
    Srv.Stop();
    EXPECT_TRUE(sys.ReadCurrentVersion());
    EXPECT_EQ(sys.GetModel(), "H9"); // a failed request keeps the model
    EXPECT_FALSE(ui.ReadCurrentVersion());
}

TEST_F(UpgradeFlow, LatestInfoFromTheFolderList) {
    TUI ui;
    Aim(ui);
    ui.FOEMName = "OEMX\r\n";
    ui.SetModel("FX100");
    ui.SetModelKeyLen(2);
    Srv.On("/FM/oemx%0D%0A/firmware.txt",
           Answer(200, "[fx]\r\nAppVer = 2.0.0.1\r\nMD5=ABC\r\nNO=1.0.0.1 1.0.0.2\r\nAppFile= ui.zip \r\n"));
    std::string md5, no, ver;
    ui.GetLatestInfo(md5, no, ver);
    EXPECT_EQ(ver, "2.0.0.1");
    EXPECT_EQ(md5, "ABC");
    EXPECT_EQ(no, "1.0.0.1 1.0.0.2");
    EXPECT_EQ(ui.GetFirmwareFile(), "ui.zip");
    EXPECT_TRUE(Exists(Temp + "Firmware.ini"));

    // No section name: nothing is fetched and the file name stays.
    TSys sys;
    Aim(sys);
    sys.SetFirmwareFile("keep.zip");
    sys.SetCurVersion("2137");
    size_t before = Srv.RequestCount();
    sys.GetLatestInfo(md5, no, ver);
    EXPECT_EQ(ver, "");
    EXPECT_EQ(Srv.RequestCount(), before);
    EXPECT_EQ(sys.GetFirmwareFile(), "keep.zip");

    // An unreachable list: one error box, an empty version, and the old local list is gone.
    sys.SetCurVersion("21.37.2.47");
    sys.GetLatestInfo(md5, no, ver);
    EXPECT_EQ(RequestLine(Srv.Requests().back()), "GET /FM/system/firmware.txt HTTP/1.1");
    EXPECT_EQ(ver, "");
    EXPECT_EQ(Boxes->Shown().size(), 1u);
}

TEST_F(UpgradeFlow, PreparePackageCodes) {
    TSys u;
    Aim(u);
    std::string image = std::string(4096, 'I') + "image";
    std::string zip = Package("pkg.zip", "pkg.bin", image);
    std::string md5 = TUpgradeOpt::FileMD5(zip);
    TCanned pkg;
    pkg.Head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    pkg.File = zip;
    Srv.On("/FM/system/pkg.zip", pkg);

    u.SetFirmwareFile(" pkg.zip ");
    EXPECT_EQ(u.PreparePackage("0123"), 2);
    EXPECT_TRUE(Exists(Temp + "pkg.zip")); // left for inspection after a digest mismatch
    EXPECT_EQ(u.PreparePackage(md5), 0);
    EXPECT_EQ(ReadFile(Temp + "pkg.bin"), image);
    // The session uploads its own name for the image, under the image's file name.
    EXPECT_EQ(u.GetImagePath().substr(u.GetImagePath().rfind('/')), "/pkg.bin");
    EXPECT_EQ(ReadFile(u.GetImagePath()), image);
    EXPECT_FALSE(Exists(Temp + "pkg.zip"));

    // The verified image from an earlier session is used again without a request.
    size_t before = Srv.RequestCount();
    EXPECT_EQ(u.PreparePackage(md5), 0);
    EXPECT_EQ(Srv.RequestCount(), before);

    u.SetFirmwareFile("missing.zip");
    EXPECT_EQ(u.PreparePackage(md5), 1);
    std::string other = Package("other.zip", "not-the-image.bin", "x");
    pkg.File = other;
    Srv.On("/FM/system/other.zip", pkg);
    u.SetFirmwareFile("other.zip");
    EXPECT_EQ(u.PreparePackage(TUpgradeOpt::FileMD5(other)), 3);
    // A package name without an extension loses its last four characters all the same.
    std::string odd = Package("oddname", "odd.bin", "x");
    pkg.File = odd;
    Srv.On("/FM/system/oddname", pkg);
    u.SetFirmwareFile("oddname");
    EXPECT_EQ(u.PreparePackage(TUpgradeOpt::FileMD5(odd)), 0);
    EXPECT_EQ(u.GetImagePath().substr(u.GetImagePath().rfind('/')), "/odd.bin");
}

TEST_F(UpgradeFlow, UnsafePackageNamesAreRefusedBeforeAnythingIsWritten) {
    TSys u;
    Aim(u);
    for (const char* name : {"", "   ", "../evil.zip", "a/b.zip", "a\\b.zip", "x..zip", "bad\r\nname.zip"}) {
        u.SetFirmwareFile(name);
        EXPECT_EQ(u.PreparePackage("d41d8cd98f00b204e9800998ecf8427e"), 1) << name;
    }
    EXPECT_EQ(Srv.RequestCount(), 0u);
    EXPECT_TRUE(Boxes->Shown().empty());
}

TEST_F(UpgradeFlow, FolderAndPackageNamesArePercentEncoded) {
    TUI ui;
    Aim(ui);
    ui.FOEMName = "OEM A&B";
    std::string zip = Package("my pkg+1.zip", "my pkg+1.bin", "img");
    TCanned pkg;
    pkg.Head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    pkg.File = zip;
    Srv.On("/FM/oem%20a%26b/my%20pkg%2B1.zip", pkg);
    ui.SetFirmwareFile("my pkg+1.zip");
    EXPECT_EQ(ui.PreparePackage(TUpgradeOpt::FileMD5(zip)), 0);
    EXPECT_EQ(RequestLine(Srv.Requests().back()), "GET /FM/oem%20a%26b/my%20pkg%2B1.zip HTTP/1.1");
}

TEST(FirmwareServer, ASessionWithoutOneAsksAnAddressThatNeverResolves) {
    EXPECT_EQ(FirmwareServerBase(""), "http://firmware-server.invalid/FM/");
    EXPECT_EQ(FirmwareServerBase(" http://127.0.0.1:1/FM "), "http://127.0.0.1:1/FM/");
    EXPECT_EQ(FirmwareServerBase("/srv/fm"), "file:///srv/fm/");
}
