#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "transport/MultipartUpload.h"
#include "upgrade/FSeries.h"
#include "upgrade/HSeries.h"
#include "upgrade/UpgradeFactory.h"

#include "support/Sandbox.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <regex>

using namespace testsupport;

namespace {

const std::string kSysSig("\x42\x4E\x45\x47", 4);
const std::string kUISig("\xBD\x9A\x0C\x44", 4);

// Exposes the image path the package step would set.
class Upload : public TLangSandbox {
  protected:
    template <class T> void Aim(TWithImage<T>& u, const std::string& image, int port = 0) {
        u.SetIP("127.0.0.1");
        u.SetPort(port ? port : Srv.Port());
        std::string path = Temp + "image.bin";
        WriteFile(path, image);
        u.SetImage(path);
    }
    // The request as it came, split at its blank line; the boundary read back from its header.
    struct TCapture {
        std::vector<std::string> Lines;
        std::string Body, Boundary;
    };
    TCapture Capture(size_t i = 0) {
        std::string raw = Srv.Requests().at(i);
        TCapture c;
        size_t end = raw.find("\r\n\r\n");
        std::string head = raw.substr(0, end);
        for (size_t p = 0; p <= head.size();) {
            size_t n = head.find("\r\n", p);
            c.Lines.push_back(head.substr(p, n == std::string::npos ? std::string::npos : n - p));
            if (n == std::string::npos) break;
            p = n + 2;
        }
        c.Body = raw.substr(end + 4);
        std::string ct = HeaderOf(raw, "Content-Type");
        c.Boundary = ct.substr(ct.find("boundary=") + 9);
        return c;
    }
    static std::string Form(const std::string& boundary, const std::string& file, const std::string& type,
                            const std::string& image) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + file +
               "\"\r\nContent-Type: " + type + "\r\nContent-Transfer-Encoding: binary\r\n\r\n" + image +
               "\r\n--" + boundary + "--\r\n";
    }
    TTestHttpServer Srv;
};

} // namespace

TEST_F(Upload, FSystemRequestByteForByte) {
    TWithImage<TFSYSUpgrade> u;
    std::string image = kSysSig + std::string(5000, '\x07');
    Aim(u, image);
    u.SetPassword("530274");
    Srv.On("/upgrade_firmware.cgi", Answer(200, "ok"));
    std::string msg;
    ASSERT_TRUE(u.DoUpgrade(msg)) << msg;
    EXPECT_EQ(msg, "Successfully upgrading!");
    TCapture c = Capture();
    std::string host = "127.0.0.1:" + std::to_string(Srv.Port());
    EXPECT_TRUE(std::regex_match(c.Boundary, std::regex("--------[0-9]{15}")));
    std::string form = Form(c.Boundary, "image.bin", "application/octet-stream", image);
    EXPECT_EQ(c.Lines, (std::vector<std::string>{
                           "POST /upgrade_firmware.cgi?user=admin&pwd=530274&next_url=reboot.htm HTTP/1.0",
                           "Connection: keep-alive",
                           "Content-Type: multipart/form-data; boundary=" + c.Boundary,
                           "Content-Length: " + std::to_string(form.size()),
                           "Host: " + host,
                           "Accept: text/html, */*",
                           "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
                       }));
    EXPECT_EQ(c.Body, form);
}

TEST_F(Upload, FUIRequestWithEmptyPassword) {
    TWithImage<TFUIUpgrade> u;
    Aim(u, kUISig + "ui");
    Srv.On("/upgrade_htmls.cgi", Answer(200, ""));
    std::string msg;
    ASSERT_TRUE(u.DoUpgrade(msg));
    EXPECT_EQ(Capture().Lines[0], "POST /upgrade_htmls.cgi?user=admin&pwd=&next_url=reboot.htm HTTP/1.0");
}

TEST_F(Upload, HRequestsByteForByte) {
    TWithImage<THUIUpgrade> ui;
    std::string image = "PK\x03\x04 any image of four bytes or more";
    Aim(ui, image);
    ui.SetImage("  " + Temp + "image.bin ");
    Srv.On("/cgi-bin/upgrade_htmls.cgi", Answer(200, "done"));
    std::string msg;
    ASSERT_TRUE(ui.DoUpgrade(msg)) << msg;
    TCapture c = Capture();
    std::string form = Form(c.Boundary, "image.bin", "application/x-zip-compressed", image);
    EXPECT_EQ(
        c.Lines,
        (std::vector<std::string>{
            "POST /cgi-bin/upgrade_htmls.cgi?next_url=reboot.htm HTTP/1.0",
            "Connection: keep-alive",
            "Content-Type: multipart/form-data; boundary=" + c.Boundary,
            "Content-Length: " + std::to_string(form.size()),
            "Host: 127.0.0.1:" + std::to_string(Srv.Port()),
            "Accept: image/gif, image/jpeg, image/pjpeg, image/pjpeg, application/x-shockwave-flash, */*",
            "Accept-Encoding: gzip,deflate",
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
            "Authorization: Basic YWRtaW46",
        }));
    EXPECT_EQ(c.Body, form);

    TWithImage<THSYSUpgrade> sys;
    Aim(sys, image);
    sys.SetPassword("530274");
    Srv.On("/cgi-bin/upgrade_firmware.cgi", Answer(200, "done"));
    ASSERT_TRUE(sys.DoUpgrade(msg));
    TCapture s = Capture(1);
    EXPECT_EQ(s.Lines[0], "POST /cgi-bin/upgrade_firmware.cgi HTTP/1.0");
    EXPECT_EQ(s.Lines[8], "Authorization: Basic YWRtaW46NTMwMjc0");
}

TEST_F(Upload, SignatureAndShortImagesAreRefusedWithoutAConnection) {
    TWithImage<TFSYSUpgrade> sys;
    std::string msg;
    Aim(sys, kUISig + "a UI image");
    EXPECT_FALSE(sys.DoUpgrade(msg));
    EXPECT_EQ(msg, "Error on reading ROM for upgrade.");
    Aim(sys, "BNE");
    EXPECT_FALSE(sys.DoUpgrade(msg));
    EXPECT_EQ(msg, "Error on reading ROM for upgrade.");
    TWithImage<THSYSUpgrade> h;
    Aim(h, "abc");
    EXPECT_FALSE(h.DoUpgrade(msg));
    EXPECT_EQ(msg, "Error on reading ROM for upgrade.");
    EXPECT_EQ(Srv.RequestCount(), 0u);
    h.SetImage(Temp + "missing.bin");
    EXPECT_THROW(h.DoUpgrade(msg), std::runtime_error);
}

TEST_F(Upload, AnswersJudgedByStatusAndLocation) {
    TWithImage<TFSYSUpgrade> u;
    Aim(u, kSysSig + "x");
    std::string msg;
    Srv.On("/upgrade_firmware.cgi", Answer(200, "<html>error page</html>"));
    EXPECT_TRUE(u.DoUpgrade(msg));
    Srv.On("/upgrade_firmware.cgi", Answer(302, "", "Location: reboot.htm\r\n"));
    EXPECT_FALSE(u.DoUpgrade(msg));
    EXPECT_EQ(msg, "Upgrade failed:HTTP/1.1 302 Found");
    Srv.On("/upgrade_firmware.cgi", Answer(200, "", "Location: reboot.htm\r\n"));
    EXPECT_FALSE(u.DoUpgrade(msg));
    EXPECT_EQ(msg, "Upgrade failed:HTTP/1.1 200 OK");
    Srv.On("/upgrade_firmware.cgi", Answer(401, "Unauthorized", "", "Unauthorized"));
    EXPECT_FALSE(u.DoUpgrade(msg));
    EXPECT_EQ(msg, "Upgrade failed:HTTP/1.1 401 Unauthorized");
    TCanned interim = Answer(200, "fine");
    interim.Head = "HTTP/1.1 100 Continue\r\n\r\n" + interim.Head;
    Srv.On("/upgrade_firmware.cgi", interim);
    EXPECT_TRUE(u.DoUpgrade(msg)) << msg;
}

TEST_F(Upload, BrokenExchangesFail) {
    TWithImage<THSYSUpgrade> h;
    Aim(h, kSysSig + std::string(200000, 'z'));
    std::string msg;
    TCanned hold;
    hold.Hold = true;
    Srv.On("/cgi-bin/upgrade_firmware.cgi", hold);
    EXPECT_FALSE(h.DoUpgrade(msg)); // never answered: the scaled 60 s per wait ends it
    EXPECT_EQ(msg.rfind("Upgrade failed:", 0), 0u);
    EXPECT_GT(msg.size(), std::string("Upgrade failed:").size());
    TCanned cut;
    cut.CloseAtOnce = true;
    cut.ReadBody = false;
    Srv.On("/cgi-bin/upgrade_firmware.cgi", cut);
    EXPECT_FALSE(h.DoUpgrade(msg));
    EXPECT_EQ(msg.rfind("Upgrade failed:", 0), 0u);
    TWithImage<TFSYSUpgrade> f;
    Aim(f, kSysSig + "x");
    Srv.On("/upgrade_firmware.cgi", hold);
    EXPECT_FALSE(f.DoUpgrade(msg)); // the F series gets a bound too
    Srv.Stop();
    EXPECT_FALSE(f.DoUpgrade(msg));
    EXPECT_EQ(msg.rfind("Upgrade failed:", 0), 0u);
}

TEST_F(Upload, AnAnswerCutOffOrWithoutEndIsNeverASuccess) {
    TWithImage<THSYSUpgrade> h;
    Aim(h, kSysSig + "x");
    std::string msg;
    // 200 with a Content-Length, then the camera goes away before the body is whole.
    TCanned cut = Answer(200, "short");
    cut.Head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n";
    Srv.On("/cgi-bin/upgrade_firmware.cgi", cut);
    EXPECT_FALSE(h.DoUpgrade(msg));
    EXPECT_EQ(msg, "Upgrade failed:The connection was closed before the answer was complete.");
    // 200, then silence past the per-wait bound.
    cut.TrickleBytes = 1;
    cut.TrickleDelayMs = 2000;
    Srv.On("/cgi-bin/upgrade_firmware.cgi", cut);
    EXPECT_FALSE(h.DoUpgrade(msg));
    // Interim answers without end, and a body without end.
    TCanned interim;
    interim.Head = "HTTP/1.1 100 Continue\r\n";
    for (int i = 0; i < 200; ++i)
        interim.Body += "HTTP/1.1 100 Continue\r\n\r\n";
    interim.TrickleBytes = 27;
    interim.TrickleDelayMs = 2;
    Srv.On("/cgi-bin/upgrade_firmware.cgi", interim);
    EXPECT_FALSE(h.DoUpgrade(msg));
    EXPECT_EQ(msg, "Upgrade failed:Too many interim answers.");
    TCanned endless;
    endless.Head = "HTTP/1.1 200 OK\r\n";
    endless.Body = std::string(MaxAnswerBody + 4096, 'b');
    Srv.On("/cgi-bin/upgrade_firmware.cgi", endless);
    EXPECT_FALSE(h.DoUpgrade(msg));
    EXPECT_EQ(msg, "Upgrade failed:The answer is too long.");
    // Without a length, a camera that closes after its answer has answered.
    TCanned closing;
    closing.Head = "HTTP/1.1 200 OK\r\n";
    closing.Body = "done";
    Srv.On("/cgi-bin/upgrade_firmware.cgi", closing);
    EXPECT_TRUE(h.DoUpgrade(msg)) << msg;
}

TEST(AnswerHead, StatusLocationAndLength) {
    TAnswerHead a;
    EXPECT_TRUE(ParseAnswerHead("HTTP/1.0 200 OK\r\nlocation: x\r\ncontent-length:  12\r\n", a));
    EXPECT_EQ(a.Status, 200);
    EXPECT_TRUE(a.Location);
    EXPECT_EQ(a.ContentLength, 12);
    EXPECT_FALSE(ParseAnswerHead("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n", a));
    EXPECT_FALSE(ParseAnswerHead("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n", a));
    EXPECT_FALSE(ParseAnswerHead("ICY 200 OK\r\n", a));
    EXPECT_EQ(a.StatusLine, "ICY 200 OK");
    EXPECT_EQ(a.Status, 0);
}

TEST_F(Upload, PortEightyIsLeftOutOfUrlAndHost) {
    EXPECT_EQ(HostWithPort("192.168.1.126", 80), "192.168.1.126");
    EXPECT_EQ(HostWithPort("192.168.1.126", 81), "192.168.1.126:81");
}

TEST_F(Upload, AccountInTheQueryIsEncodedOnlyWhereItWouldChangeTheRequest) {
    TWithImage<TFSYSUpgrade> u;
    Aim(u, kSysSig);
    u.SetUser("a b&c");
    u.SetPassword("p#1!@$*&#%/?");
    Srv.On("/upgrade_firmware.cgi", Answer(200, ""));
    std::string msg;
    ASSERT_TRUE(u.DoUpgrade(msg));
    EXPECT_EQ(Capture().Lines[0], "POST /upgrade_firmware.cgi?user=a%20b%26c&pwd=p%231!@$*%26%23%25/?"
                                  "&next_url=reboot.htm HTTP/1.0");
}

TEST_F(Upload, StatusPagesOfBothSeries) {
    TWithImage<TFSYSUpgrade> f;
    TWithImage<TFUIUpgrade> fu;
    TWithImage<THSYSUpgrade> h;
    for (auto* u : std::initializer_list<TUpgradeObject*>{&f, &fu, &h}) {
        u->SetIP("127.0.0.1");
        u->SetPort(Srv.Port());
    }
    Srv.On("/get_status.cgi", Answer(200, "var sys_ver='48.2.0.10';\nvar app_ver='2.4.8.6';\n"));
    EXPECT_TRUE(f.ReadCurrentVersion());
    EXPECT_EQ(f.GetCurVersion(), "48.2.0.10");
    EXPECT_TRUE(fu.ReadCurrentVersion());
    EXPECT_EQ(fu.GetCurVersion(), "2.4.8.6");
    EXPECT_EQ(fu.GetSectionName(), "2.4.8");
    EXPECT_EQ(HeaderOf(Srv.Requests().back(), "Authorization"), "");
    Srv.On("/get_status.cgi", Answer(200, "var sys_ver=48.2.0.10;"));
    EXPECT_TRUE(f.ReadCurrentVersion());
    EXPECT_EQ(f.GetCurVersion(), "");
    Srv.On("/get_status.cgi", Answer(200, "var other=1;"));
    f.SetCurVersion("kept");
    EXPECT_FALSE(f.ReadCurrentVersion());
    EXPECT_EQ(f.GetCurVersion(), "kept");

    Srv.On("/appver.js", Answer(200, "var app_model=\"H264X\";"));
    Srv.On("/get_status.cgi", Answer(200, "var sys_ver=\"48.3.1.7\";"));
    EXPECT_TRUE(h.ReadCurrentVersion());
    EXPECT_EQ(h.GetCurVersion(), "48.3.1.7");
    EXPECT_EQ(h.GetSectionName(), "H264X");
    Srv.On("/get_status.cgi", Answer(200, "var sys_ver='48.3.1.7';"));
    EXPECT_TRUE(h.ReadCurrentVersion());
    EXPECT_EQ(h.GetCurVersion(), "");
    Srv.On("/get_status.cgi", Answer(200, "var sys_ver='48.3.1.7';\nvar x=\"y\";"));
    EXPECT_TRUE(h.ReadCurrentVersion());
    EXPECT_EQ(h.GetCurVersion(), "48.3.1.7';\nvar x=");
    Srv.On("/get_status.cgi", Answer(200, "nothing"));
    EXPECT_TRUE(h.ReadCurrentVersion()); // the base reading succeeded
    EXPECT_EQ(h.GetCurVersion(), "");
}

TEST(UpgradeFactory, Table) {
    auto h = TUpgradeFactory::CreateUpgrade(2, 1);
    ASSERT_NE(dynamic_cast<THSYSUpgrade*>(h.get()), nullptr);
    EXPECT_EQ(h->GetPort(), 81);
    EXPECT_EQ(h->GetUser(), "admin");
    EXPECT_NE(dynamic_cast<THUIUpgrade*>(TUpgradeFactory::CreateUpgrade(2, 0).get()), nullptr);
    EXPECT_NE(dynamic_cast<TFSYSUpgrade*>(TUpgradeFactory::CreateUpgrade(1, 7).get()), nullptr);
    EXPECT_NE(dynamic_cast<TFUIUpgrade*>(TUpgradeFactory::CreateUpgrade(1, 0).get()), nullptr);
    EXPECT_EQ(TUpgradeFactory::CreateUpgrade(5, 0), nullptr);
    EXPECT_EQ(TUpgradeFactory::CreateUpgrade(-1, 1), nullptr);
}

TEST_F(Upload, PortEightyRawCapture) {
    // Port 80 needs root; the address is one of loopback's own, so nothing else is in the way.
    std::unique_ptr<TTestHttpServer> web;
    try {
        web = std::make_unique<TTestHttpServer>("127.0.0.45", 80);
    } catch (const std::exception&) {
        GTEST_SKIP() << "port 80 cannot be bound here";
    }
    web->On("/upgrade_firmware.cgi", Answer(200, "ok"));
    web->On("/cgi-bin/upgrade_htmls.cgi", Answer(200, "ok"));
    web->On("/get_status.cgi", Answer(200, "var sys_ver='48.2.0.10';"));
    TWithImage<TFSYSUpgrade> f;
    Aim(f, kSysSig + "image", 80);
    f.SetIP("127.0.0.45");
    std::string msg;
    ASSERT_TRUE(f.DoUpgrade(msg)) << msg;
    std::string raw = web->Requests().back();
    EXPECT_EQ(RequestLine(raw), "POST /upgrade_firmware.cgi?user=admin&pwd=&next_url=reboot.htm HTTP/1.0");
    EXPECT_EQ(HeaderOf(raw, "Host"), "127.0.0.45");
    EXPECT_TRUE(f.ReadCurrentVersion()); // its URL names port 80 after the address
    EXPECT_EQ(f.GetCurVersion(), "48.2.0.10");
    TWithImage<THUIUpgrade> h;
    Aim(h, "PK\x03\x04 image", 80);
    h.SetIP("127.0.0.45");
    ASSERT_TRUE(h.DoUpgrade(msg)) << msg;
    raw = web->Requests().back();
    EXPECT_EQ(RequestLine(raw), "POST /cgi-bin/upgrade_htmls.cgi?next_url=reboot.htm HTTP/1.0");
    EXPECT_EQ(HeaderOf(raw, "Host"), "127.0.0.45");
    EXPECT_EQ(HeaderOf(raw, "Authorization"), "Basic YWRtaW46");
}

TEST_F(Upload, TheFormCarriesTheBaseNameWithNothingThatCouldChangeThePartHead) {
    TWithImage<TFSYSUpgrade> u;
    std::string image = kSysSig + std::string(100, '\x07');
    Aim(u, image);
    std::string hostile = Temp + "F\"; name=\"evil.bin\\\r\nX-Injected: 1\x7F.bin";
    WriteFile(hostile, image);
    u.SetImage(hostile);
    Srv.On("/upgrade_firmware.cgi", Answer(200, "ok"));
    std::string msg;
    ASSERT_TRUE(u.DoUpgrade(msg)) << msg;
    TCapture c = Capture();
    EXPECT_EQ(c.Body,
              Form(c.Boundary, "F_; name=_evil.bin___X-Injected: 1_.bin", "application/octet-stream", image));
    EXPECT_EQ(c.Body.find(Temp), std::string::npos) << "the local folder stays here";
}
