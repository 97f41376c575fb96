#include "transport/OnvifSoap.h"
#include "transport/Base64.h"
#include "upgrade/OnvifSeries.h"
#include "upgrade/UpgradeFactory.h"

#include <gtest/gtest.h>

using namespace onvif;

namespace {

std::string Wrap(const std::string& body) {
    return "<?xml version=\"1.0\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\">"
           "<env:Body>" +
           body + "</env:Body></env:Envelope>";
}

} // namespace

TEST(OnvifSoap, DigestIsTheStandardsExample) {
    // The example of the UsernameToken profile's ONVIF use: nonce, created and password.
    std::string nonce = "LKqI6G/AikKCQrN0zqZFlg==";
    // Decoded by hand from the Base64 above.
    const unsigned char raw[] = {0x2c, 0xaa, 0x88, 0xe8, 0x6f, 0xc0, 0x8a, 0x42,
                                 0x82, 0x42, 0xb3, 0x74, 0xce, 0xa6, 0x45, 0x96};
    std::string bytes(reinterpret_cast<const char*>(raw), sizeof raw);
    ASSERT_EQ(Base64EncodeLine(bytes), nonce);
    EXPECT_EQ(PasswordDigest(bytes, "2010-09-16T07:50:45Z", "userpassword"), "tuOSpGlFlIXsozq4HFNeeGeFLEI=");
}

TEST(OnvifSoap, SignedEnvelopeReadsBackAsTheDeviceReadsIt) {
    auto when = std::chrono::system_clock::from_time_t(1765331000) + std::chrono::milliseconds(42);
    std::string env = Envelope("<tds:GetDeviceInformation/>", "Admin&Co", "Pass<word>", when);
    TSoapRequest r = ParseRequest(env);
    ASSERT_TRUE(r.Parsed);
    EXPECT_EQ(r.Operation, "GetDeviceInformation");
    EXPECT_EQ(r.Username, "Admin&Co"); // escaped on the way out, decoded on the way in
    EXPECT_EQ(r.Created, UtcText(when));
    EXPECT_EQ(r.Created.substr(r.Created.size() - 5), ".042Z");
    EXPECT_NE(r.PasswordType.find("#PasswordDigest"), std::string::npos);
    // Two envelopes never share a nonce.
    EXPECT_NE(ParseRequest(Envelope("<tds:GetDeviceInformation/>", "a", "b", when)).Nonce,
              ParseRequest(Envelope("<tds:GetDeviceInformation/>", "a", "b", when)).Nonce);
    EXPECT_TRUE(ParseRequest(Envelope("<tds:GetSystemDateAndTime/>")).Username.empty());
}

TEST(OnvifSoap, AnswersFaultsAndHostileDocuments) {
    TSoapAnswer a = ParseAnswer(Wrap("<tds:GetDeviceInformationResponse><tds:Manufacturer>Lobby&amp;Hall"
                                     "</tds:Manufacturer><tds:Model> M&#49; </tds:Model>"
                                     "<tds:FirmwareVersion><![CDATA[1.2<3]]></tds:FirmwareVersion>"
                                     "</tds:GetDeviceInformationResponse>"));
    ASSERT_TRUE(a.Parsed);
    EXPECT_FALSE(a.Fault);
    EXPECT_EQ(a.Value("Manufacturer"), "Lobby&Hall");
    EXPECT_EQ(a.Value("Model"), "M1");
    EXPECT_EQ(a.Value("FirmwareVersion"), "1.2<3");

    TSoapAnswer f = ParseAnswer(Wrap("<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode>"
                                     "<env:Value>ter:NotAuthorized</env:Value></env:Subcode></env:Code>"
                                     "<env:Reason><env:Text>Sender not authorized</env:Text></env:Reason>"
                                     "</env:Fault>"));
    EXPECT_TRUE(f.Fault);
    EXPECT_EQ(f.FaultCode, "NotAuthorized");
    EXPECT_EQ(f.FaultReason, "Sender not authorized");
    TCallResult r;
    r.Reached = true;
    r.Status = 400;
    r.Answer = f;
    EXPECT_TRUE(IsNotAuthorized(r));
    EXPECT_FALSE(IsNotSupported(r));

    // A document type (and with it any entity of its own) is refused whole; so are undeclared
    // entities, external ones, other roots and anything past the size limit.
    EXPECT_FALSE(ParseAnswer("<!DOCTYPE e [<!ENTITY a \"aaaa\">]>" + Wrap("<x>&a;</x>")).Parsed);
    EXPECT_FALSE(ParseAnswer("<!DOCTYPE e SYSTEM \"http://127.0.0.1:9/x.dtd\">" + Wrap("<x/>")).Parsed);
    EXPECT_FALSE(ParseAnswer(Wrap("<x>&undeclared;</x>")).Parsed);
    EXPECT_FALSE(ParseAnswer("<html><body>401</body></html>").Parsed);
    EXPECT_FALSE(ParseAnswer(Wrap("<x>" + std::string(MaxAnswer, 'a') + "</x>")).Parsed);
    EXPECT_EQ(ParseAnswer(Wrap("<x>" + std::string(5000, 'a') + "</x>")).Value("x").size(), MaxText);
}

TEST(OnvifSoap, CameraClockAndDurations) {
    TSoapAnswer a =
        ParseAnswer(Wrap("<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:UTCDateTime><tt:Time><"
                         "tt:Hour>1</tt:Hour>"
                         "<tt:Minute>2</tt:Minute><tt:Second>3</tt:Second></tt:Time><tt:Date><tt:Year>2026</"
                         "tt:Year><tt:Month>12"
                         "</tt:Month><tt:Day>10</tt:Day></tt:Date></"
                         "tt:UTCDateTime><tt:LocalDateTime><tt:Time><tt:Hour>9</tt:Hour>"
                         "<tt:Minute>2</tt:Minute><tt:Second>3</tt:Second></tt:Time><tt:Date><tt:Year>2026</"
                         "tt:Year><tt:Month>12"
                         "</tt:Month><tt:Day>10</tt:Day></tt:Date></tt:LocalDateTime></tds:SystemDateAndTime>"
                         "</tds:GetSystemDateAndTimeResponse>"));
    std::chrono::system_clock::time_point t;
    ASSERT_TRUE(CameraUtcTime(a, t));
    EXPECT_EQ(UtcText(t), "2026-12-10T01:02:03.000Z");
    EXPECT_FALSE(CameraUtcTime(ParseAnswer(Wrap("<tt:UTCDateTime><tt:Time><tt:Hour>25</tt:Hour></tt:Time>"
                                                "</tt:UTCDateTime>")),
                               t));

    EXPECT_EQ(ParseDuration("PT30S"), 30000);
    EXPECT_EQ(ParseDuration("PT1M2.5S"), 62500);
    EXPECT_EQ(ParseDuration("P0DT1H"), 3600000);
    EXPECT_EQ(ParseDuration("P1D"), 86400000);
    for (const char* bad :
         {"", "P", "PT", "30S", "PT-1S", "P1Y", "P1M", "PT1.5M", "PT1..5S", "P2D", "PTS", "PT1S2"})
        EXPECT_EQ(ParseDuration(bad), -1) << bad;
}

TEST(OnvifSoap, UploadHostsAndVersions) {
    EXPECT_EQ(UrlHost("http://127.0.0.1:80/onvif/x"), "127.0.0.1");
    EXPECT_EQ(UrlHost("HTTPS://cam.local/up?x"), "cam.local");
    EXPECT_EQ(UrlHost("http://user@127.0.0.1/x"), ""); // a camera never hides a host behind credentials
    EXPECT_EQ(UrlHost("ftp://127.0.0.1/x"), "");
    EXPECT_EQ(UrlHost("http://[::1]:80/x"), "[::1]");

    EXPECT_EQ(CompareVersions("1.10", "1.9"), 1);
    EXPECT_EQ(CompareVersions("2.0", "2.0.0"), 0);
    EXPECT_EQ(CompareVersions(" 2.01 ", "2.1"), 0);
    EXPECT_EQ(CompareVersions("2.1.0", "2.1.1"), -1);
    EXPECT_EQ(CompareVersions("V2.1", "V2.1"), 0);
    EXPECT_EQ(CompareVersions("V2.1", "2.1"), 2);
    EXPECT_EQ(CompareVersions("1..2", "1.0.2"), 2);
    EXPECT_EQ(CompareVersions("99999999999.1", "99999999999.1"), 0);
}

TEST(OnvifUpgradeObject, FactoryAndSections) {
    auto o = TUpgradeFactory::CreateUpgrade(5, 1);
    ASSERT_NE(dynamic_cast<TOnvifUpgrade*>(o.get()), nullptr);
    EXPECT_EQ(o->GetServerFolder(), "onvif");
    EXPECT_EQ(o->GetVersionKey(), "SysVer");
    EXPECT_EQ(o->GetSectionName(), "");                       // nothing read yet: no list is fetched
    EXPECT_EQ(TUpgradeFactory::CreateUpgrade(5, 0), nullptr); // one firmware only
    EXPECT_EQ(TUpgradeFactory::CreateUpgrade(6, 1), nullptr);
    auto& u = dynamic_cast<TOnvifUpgrade&>(*o);
    u.SetIP("127.0.0.1");
    u.SetPort(8080);
    EXPECT_EQ(u.ServiceURL(), "http://127.0.0.1:8080/onvif/device_service");
    u.SetCurVersion("2.1.0");
    EXPECT_TRUE(u.IsSameVersion("2.1"));
    EXPECT_FALSE(u.IsSameVersion("2.1.1"));
}
