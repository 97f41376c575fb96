// Which search rows a batch may send a login to, and one session per camera.
#include "cli/CameraSelection.h"
#include "discovery/NetHelpers.h"
#include "discovery/SearchReplies.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TDevInfo Row(int type, const std::string& ip, int port, const std::string& source,
             const std::string& mac = "") {
    TDevInfo d;
    d.DevType = type;
    d.IP = ip;
    d.HttpPort = static_cast<uint16_t>(port);
    d.Source = source;
    d.MAC = mac;
    d.MACHex = NormalizeMac(mac);
    return d;
}

TCamera Camera(const std::string& ip, const std::string& port, char series, const std::string& mac = "") {
    TCamera c;
    c.IP = ip;
    c.Port = port;
    c.Series = series;
    c.Mac = mac;
    return c;
}

} // namespace

TEST(DottedIPv4, OnlyFourDecimalNumbersUpTo255) {
    for (const char* good : {"0.0.0.0", "127.0.0.1", "192.168.1.255", "10.20.30.40"})
        EXPECT_TRUE(TTools_Net::IsDottedIPv4(good)) << good;
    for (const char* bad : {"", "localhost", "127.0.0", "127.0.0.1.", ".127.0.0.1", "127.0.0.256",
                            "127.0.0.01", "127.0.0.1 ", " 127.0.0.1", "127..0.1", "0x7f.0.0.1",
                            "127.0.0.1:80", "1234.0.0.1", "127.0.0.-1", "127.0.0.1\n", "2130706433"})
        EXPECT_FALSE(TTools_Net::IsDottedIPv4(bad)) << bad;
}

TEST(TrustedCameras, OnlyRowsThatAnsweredForThemselvesWithAUsablePortAndSeries) {
    std::vector<TDevInfo> rows = {
        Row(2, "127.0.0.1", 8081, "127.0.0.1", "02:53:46:00:00:01"), // F, answered for itself
        Row(2, "127.0.0.5", 8082, "127.0.0.1"),                      // names another host
        Row(5, "localhost", 81, "127.0.0.1"),                        // a host name
        Row(5, "", 0, "127.0.0.1"),                                  // a junk reply
        Row(8, "127.0.0.2", 0, "127.0.0.2"),                         // port 0
        Row(4, "127.0.0.3", 80, ""),                                 // the external library's: no series
        Row(8, "127.0.0.4", 81, ""),                                 // no sender known
        Row(10, "127.0.0.6", 81, "127.0.0.6"),                       // C, but only E,F,H are wanted
        Row(8, "127.0.0.7", 82, "127.0.0.7", "0102030405aa"),        // H, answered for itself
    };
    std::vector<TLeftOut> leftOut;
    std::vector<TAwaiting> awaiting;
    std::vector<TCamera> cams = TrustedCameras(rows, "E,F,H", "op", "pw", leftOut, awaiting);
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_EQ(cams[0].Name(), "127.0.0.1:8081");
    EXPECT_EQ(cams[0].Series, 'F');
    EXPECT_EQ(cams[0].User, "op");
    EXPECT_EQ(cams[0].Password, "pw");
    EXPECT_EQ(cams[0].Mac, "025346000001");
    EXPECT_EQ(cams[1].Name(), "127.0.0.7:82");
    EXPECT_EQ(cams[1].Mac, "0102030405AA");
    // A standard camera's row holds a number made from its endpoint, not its MAC.
    std::vector<TCamera> standard =
        TrustedCameras({Row(StandardCameraType, "127.0.0.8", 80, "127.0.0.8", "a1b2c3d4e5f6")}, "ONVIF", "op",
                       "pw", leftOut, awaiting);
    ASSERT_EQ(standard.size(), 1u);
    EXPECT_EQ(standard[0].Series, 'O');
    EXPECT_EQ(standard[0].Mac, "");
    EXPECT_TRUE(awaiting.empty());
    leftOut.clear();
    cams = TrustedCameras(rows, "E,F,H", "op", "pw", leftOut, awaiting);
    std::vector<std::string> why;
    for (const TLeftOut& l : leftOut)
        why.push_back(l.Row.IP + " " + l.Reason);
    EXPECT_EQ(why, (std::vector<std::string>{
                       "127.0.0.5 it names an address it was not sent from",
                       "localhost its address is no dotted IPv4 address",
                       " its address is no dotted IPv4 address", "127.0.0.2 its port is outside 1 to 65535",
                       "127.0.0.3 no series of this tool", "127.0.0.4 its sender is unknown"}));
}

TEST(OneSessionPerCamera, TheSameAddressAndPortOrTheSameMacIsOneSession) {
    std::vector<TCamera> cams = {
        Camera("127.0.0.1", "8081", 'F', "02:53:46:00:00:01"),
        Camera(" 127.0.0.1", "08081", 'H'),                    // the same address and port, written otherwise
        Camera("127.0.0.1", "8082", 'H', "025346000001"),      // the same MAC in another form
        Camera("127.0.0.1", "8083", 'H', "000000000000"),      // a MAC that tells nothing
        Camera("127.0.0.1", "8084", 'H', "00:00:00:00:00:00"), // ... is never a key
        Camera("127.0.0.2", "8081", 'T'),                      // another address: another camera
    };
    std::vector<std::string> merged;
    std::vector<TAwaiting> none;
    std::vector<TCamera> one = OneSessionPerCamera(cams, none, merged);
    std::vector<std::string> names;
    for (const TCamera& c : one)
        names.push_back(c.Name());
    EXPECT_EQ(names, (std::vector<std::string>{"127.0.0.1:8081", "127.0.0.1:8083", "127.0.0.1:8084",
                                               "127.0.0.2:8081"}));
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[0], " 127.0.0.1:08081 (H) and 127.0.0.1:8081 (F) are one camera (the same address and "
                         "port): one session, as 127.0.0.1:8081");
    EXPECT_NE(merged[1].find("(the same MAC)"), std::string::npos) << merged[1];
}

// The search library tells no sender: such a standard camera waits for its address to answer,
// behind a row that answered for itself, and only when nothing else rules it out.
TEST(TrustedCameras, StandardCamerasOfUnknownSenderAwaitTheirCheckAndLoseToARowOfTheirOwn) {
    std::vector<TLeftOut> leftOut;
    std::vector<TAwaiting> awaiting;
    std::vector<TCamera> cams = TrustedCameras(
        {Row(StandardCameraType, "127.0.0.1", 8081, ""), Row(StandardCameraType, "127.0.0.9", 80, ""),
         Row(StandardCameraType, "0.0.0.0", 80, ""), Row(StandardCameraType, "224.0.0.251", 80, ""),
         Row(StandardCameraType, "127.0.0.9", 0, ""), Row(2, "127.0.0.1", 8081, "127.0.0.1")},
        "F,ONVIF", "op", "pw", leftOut, awaiting);
    ASSERT_EQ(leftOut.size(), 3u);
    EXPECT_EQ(leftOut[1].Row.IP + " " + leftOut[1].Reason, "224.0.0.251 its address is no unicast address");
    std::vector<std::string> merged;
    cams = OneSessionPerCamera(cams, awaiting, merged);
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0].Series, 'F') << "the row that answered for itself stays";
    ASSERT_EQ(awaiting.size(), 1u);
    EXPECT_EQ(awaiting[0].Camera.Name(), "127.0.0.9:80");
}

TEST(TrustedCameras, SeriesAreWantedByTheirWholeName) {
    EXPECT_EQ(SeriesItems(" e,f ,,Onvif,o"), (std::vector<std::string>{"E", "F", "ONVIF", "ONVIF"}));
    EXPECT_FALSE(SeriesWanted("ONVIF", "F")) << "ONVIF holds the letter F";
    EXPECT_FALSE(SeriesWanted("ONVIF", "O"));
    EXPECT_TRUE(SeriesWanted("h,onvif", "ONVIF"));
    EXPECT_TRUE(SeriesWanted("h,onvif", "H"));
    EXPECT_FALSE(SeriesWanted("", "H"));
    std::vector<TLeftOut> leftOut;
    std::vector<TAwaiting> awaiting;
    EXPECT_TRUE(
        TrustedCameras({Row(2, "127.0.0.1", 8081, "127.0.0.1")}, "ONVIF", "op", "pw", leftOut, awaiting)
            .empty());
    EXPECT_TRUE(leftOut.empty() && awaiting.empty());
}

TEST(CameraIdentity, StatusPagesNameTheCameraByTheirAliasAsTheyWriteIt) {
    EXPECT_EQ(PageVariable("var id=\"x\";\r\nvar alias=\"Gate 2\";\r\n", "alias"), "Gate 2");
    EXPECT_EQ(PageVariable("var alias='Gate \"2\"';", "alias"), "Gate \"2\"");
    EXPECT_EQ(PageVariable("alias = Gate 2 ;x", "alias"), "Gate 2 ");
    EXPECT_EQ(PageVariable("var alias=Gate\r\nvar b=1;", "alias"), "Gate");
    EXPECT_EQ(PageVariable("var devalias=\"a\";var alias_x=\"b\";var alias=\"c\";", "alias"), "c")
        << "only the whole name";
    EXPECT_EQ(PageVariable("var alias=\"never closed;\r\nvar sys_ver=\"1\";", "alias"),
              "never closed;\r\nvar sys_ver=");
    EXPECT_EQ(PageVariable("var alias='never closed", "alias"), "");
    EXPECT_EQ(PageVariable("var alias", "alias"), "");
    EXPECT_EQ(PageVariable("alias=", "alias"), "");
    EXPECT_EQ(PageVariable("anything", ""), "");

    EXPECT_EQ(StatusPageIdentity("var alias=\"  Gate 2 \";").Name, "Gate 2");
    EXPECT_EQ(StatusPageIdentity("var alias=\"" + std::string(MaxCameraName, 'n') + "\";").Name.size(),
              MaxCameraName);
    EXPECT_EQ(StatusPageIdentity("var alias=\"" + std::string(MaxCameraName + 1, 'n') + "\";").Name, "");
    EXPECT_EQ(StatusPageIdentity("var alias=\"a\x1b[2Jb\";").Name, "") << "a control byte is no name";
    EXPECT_EQ(StatusPageIdentity("var alias=\"never closed;\r\nvar sys_ver=\"1\";").Name, "");
    EXPECT_EQ(StatusPageIdentity("var sys_ver=\"1\";").Name, "");
}

TEST(CameraIdentity, MacsAreWrittenOneWayAndAnythingElseIsNone) {
    EXPECT_EQ(MacText("02:53:4f:aa:bb:0c"), "02534FAABB0C");
    EXPECT_EQ(MacText(" 02-53-4F-AA-BB-0C "), "02534FAABB0C");
    EXPECT_EQ(MacText("02534faabb0c"), "02534FAABB0C");
    for (const char* none : {"", "00:00:00:00:00:00", "02:53:4f:aa:bb", "02:53:4f:aa:bb:0c:01",
                             "zz:53:4f:aa:bb:0c", "urn:uuid:5e1b7a4c"})
        EXPECT_EQ(MacText(none), "") << none;
}

TEST(CameraIdentity, NotesBelongToTheSessionOfTheirThreadAndKeepTheFirstOfEach) {
    TIdentityNotes::Note({"02:53:45:00:00:01", "nobody listens"}); // no session here: dropped
    TIdentityNotes outer;
    {
        TIdentityNotes inner;
        TIdentityNotes::Note({"", "Gate 2"});
        EXPECT_EQ(inner.Seen().Name, "Gate 2");
    }
    TIdentityNotes::Note({"", " Ya\x07rd "});
    TIdentityNotes::Note({"02:53:45:00:00:01", " Yard "});
    TIdentityNotes::Note({"02:53:45:00:00:02", "Door"});
    std::thread other([] { TIdentityNotes::Note({"02:53:45:00:00:03", "elsewhere"}); });
    other.join();
    EXPECT_EQ(outer.Seen().Mac, "02:53:45:00:00:01");
    EXPECT_EQ(outer.Seen().Name, "Yard") << "a control byte makes no name; the next one counts";
}
