#include "discovery/NetHelpers.h"
#include "transport/CameraGet.h"

#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// A port on loopback that nobody listens on: bound, then closed.
int RefusedPort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

} // namespace

TEST(HttpGet, AuthorizationOnlyWithAnAccount) {
    TTestHttpServer srv;
    srv.On("/oem.txt", Answer(200, "OEM"));
    std::string body;
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/oem.txt"), body, 20000, "admin", ""));
    EXPECT_EQ(body, "OEM");
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/oem.txt"), body, 20000, "", ""));
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/oem.txt"), body, 20000, "", "pw"));
    auto reqs = srv.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_NE(reqs[0].find("\r\nAuthorization: Basic YWRtaW46\r\n"), std::string::npos) << reqs[0];
    EXPECT_EQ(reqs[1].find("Authorization"), std::string::npos);
    EXPECT_NE(reqs[2].find("\r\nAuthorization: Basic OnB3\r\n"), std::string::npos);
    EXPECT_EQ(HeaderOf(reqs[0], "User-Agent"), "MyIP");
    EXPECT_EQ(RequestLine(reqs[0]), "GET /oem.txt HTTP/1.1");
}

TEST(HttpGet, LongCredentialsStayOnOneHeaderLine) {
    TTestHttpServer srv;
    srv.On("/x", Answer(200, "ok"));
    std::string user(40, 'u'), pass(30, 'p'), body;
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/x"), body, 20000, user, pass));
    std::string raw = srv.Requests().at(0);
    std::string value = HeaderOf(raw, "Authorization");
    EXPECT_EQ(value.substr(0, 6), "Basic ");
    EXPECT_EQ(value.size(), 6 + 4 * ((71 + 2) / 3));
    EXPECT_EQ(value.find('\r'), std::string::npos);
    // Exactly one line names the header: nothing of the value spilled into a line of its own.
    size_t lines = 0;
    for (size_t p = raw.find("\r\n"); p != std::string::npos; p = raw.find("\r\n", p + 2))
        ++lines;
    EXPECT_EQ(lines, 6u) << raw; // request line, Host, Authorization, User-Agent, Accept, blank
}

TEST(HttpGet, BodyIsCutAtTheLimitAndAtTheFirstZeroByte) {
    TTestHttpServer srv;
    std::string big(600000, 'b');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    srv.On("/big", Answer(200, big));
    srv.On("/zero", Answer(200, std::string("0123456789\0tail", 15)));
    srv.On("/empty", Answer(200, ""));
    std::string body;
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/big"), body, 20000, "", ""));
    EXPECT_EQ(body, big.substr(0, 512000));
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/zero"), body, 20000, "", ""));
    EXPECT_EQ(body, "0123456789");
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/empty"), body, 20000, "", ""));
    EXPECT_EQ(body, "");
}

TEST(HttpGet, ErrorPagesAndRedirectsCountAsAnswers) {
    TTestHttpServer srv;
    srv.On("/missing", Answer(404, "no such page"));
    srv.On("/old", Redirect("/new"));
    srv.On("/new", Answer(200, "moved here"));
    std::string body;
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/missing"), body, 20000, "", ""));
    EXPECT_EQ(body, "no such page");
    ASSERT_TRUE(TTools::HttpGet(srv.Url("/old"), body, 20000, "", ""));
    EXPECT_EQ(body, "moved here");
}

TEST(HttpGet, FailuresGiveFalseAndAnEmptyBody) {
    std::string body = "stale";
    EXPECT_FALSE(
        TTools::HttpGet("http://127.0.0.1:" + std::to_string(RefusedPort()) + "/", body, 20000, "", ""));
    EXPECT_EQ(body, "");
    TTestHttpServer srv;
    TCanned hold, closed;
    hold.Hold = true;
    closed.CloseAtOnce = true;
    srv.On("/hold", hold);
    srv.On("/closed", closed);
    body = "stale";
    // 20 s scaled down: the stalled answer is given up on within the test's time scale.
    EXPECT_FALSE(TTools::HttpGet(srv.Url("/hold"), body, 20000, "", ""));
    EXPECT_EQ(body, "");
    EXPECT_FALSE(TTools::HttpGet(srv.Url("/closed"), body, 20000, "", ""));
    EXPECT_FALSE(TTools::HttpGet("ftp://127.0.0.1/x", body, 20000, "", ""));
    EXPECT_FALSE(TTools::HttpGet(srv.Url("/x\r\nX-Injected: 1"), body, 20000, "", ""));
    EXPECT_EQ(srv.CountFor("/x"), 0u);
}

TEST(HttpGet, RedirectToAnotherSchemeIsNotFollowed) {
    TTestHttpServer srv;
    srv.On("/r", Redirect("file:///etc/passwd"));
    std::string body;
    EXPECT_FALSE(TTools::HttpGet(srv.Url("/r"), body, 20000, "", ""));
    EXPECT_EQ(body.find("root:"), std::string::npos);
}

TEST(HttpGetText, OnlyATwoHundredAnswerIsABody) {
    TTestHttpServer srv;
    srv.On("/ok", Answer(200, "params"));
    srv.On("/missing", Answer(404, "no"));
    srv.On("/moved", Redirect("/ok"));
    std::string body = "kept";
    EXPECT_FALSE(TTools_Net::HttpGetText(srv.Url("/missing"), body, 20000, "", ""));
    EXPECT_FALSE(TTools_Net::HttpGetText(srv.Url("/moved"), body, 20000, "", ""));
    EXPECT_EQ(body, "kept");
    ASSERT_TRUE(TTools_Net::HttpGetText(srv.Url("/ok"), body, 20000, "admin", ""));
    EXPECT_EQ(body, "params");
    EXPECT_EQ(HeaderOf(srv.Requests().back(), "Authorization"), "Basic YWRtaW46");
    EXPECT_EQ(HeaderOf(srv.Requests()[0], "Authorization"), "");
}

TEST(HttpGet, AnswersWithoutStatusLineOrCutShortAreStillRead) {
    TTestHttpServer srv;
    TCanned bare;
    bare.Body = "OEMX";
    bare.NoHead = true;
    srv.On("/oem.txt", bare);
    std::string body;
    EXPECT_TRUE(TTools::HttpGet(srv.Url("/oem.txt"), body, 20000, "", ""));
    EXPECT_EQ(body, "OEMX");
    TCanned shortBody;
    shortBody.Head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n";
    shortBody.Body = "var app_ver=\"1.2\";";
    srv.On("/appver.js", shortBody);
    EXPECT_TRUE(TTools::HttpGet(srv.Url("/appver.js"), body, 20000, "", ""));
    EXPECT_EQ(body, shortBody.Body);
}

TEST(HttpGet, APeerThatTricklesCannotHoldARequestForEver) {
    // One byte every few milliseconds stays inside each wait's bound, but the request as a whole
    // must end: without the crawl limit this would take a minute.
    TTestHttpServer srv;
    TCanned trickle;
    trickle.Head = "HTTP/1.1 200 OK\r\n";
    trickle.Body = std::string(20000, 'x');
    trickle.TrickleBytes = 1;
    trickle.TrickleDelayMs = 3;
    srv.On("/get_status.cgi", trickle);
    std::string body;
    EXPECT_FALSE(TTools::HttpGet(srv.Url("/get_status.cgi"), body, 20000, "", ""));
    EXPECT_FALSE(TTools_Net::HttpGetText(srv.Url("/get_status.cgi"), body, 20000, "", ""));
}
