#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "upgrade/FSeries.h"
#include "upgrade/HSeries.h"

#include "SimDemo.h"
#include "SimHttpServer.h"
#include "SimOptions.h"
#include "platform/Fd.h"
#include "platform/Platform.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"
#include "transport/CameraGet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

// Sends raw bytes to the camera and returns all it answers.
std::string RawExchange(int port, const std::string& request) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string out;
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        send(s, request.data(), request.size(), MSG_NOSIGNAL);
        char buf[4096];
        ssize_t n;
        while ((n = recv(s, buf, sizeof buf, 0)) > 0)
            out.append(buf, static_cast<size_t>(n));
    }
    close(s);
    return out;
}

std::string Post(const std::string& target, const std::string& contentType, const std::string& body,
                 const std::string& extra = "") {
    return "POST " + target + " HTTP/1.0\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

class SimCamera : public TLangSandbox {
  protected:
    std::unique_ptr<sim::TSimCamera> Camera(sim::TSeries s, sim::TCameraFaults faults = {},
                                            int64_t rebootMs = 500) {
        sim::TCameraConfig c;
        c.Series = s;
        c.RebootMs = rebootMs;
        c.Faults = faults;
        return std::make_unique<sim::TSimCamera>(c);
    }
    template <class T> void Aim(TWithImage<T>& u, sim::TSimCamera& cam, sim::TKind kind) {
        u.SetIP("127.0.0.1");
        u.SetPort(cam.Port());
        u.SetPassword("530274");
        std::string path = Temp + "img.bin";
        WriteFile(path, sim::MakeImage(kind, "9.9.9.9", 3000));
        u.SetImage(path);
    }
};

} // namespace

TEST_F(SimCamera, RefusesLoopbackOutsiders) {
    sim::TCameraConfig c;
    c.Address = "10.0.0.1";
    EXPECT_THROW(sim::TSimCamera cam(c), std::runtime_error);
    EXPECT_FALSE(sim::IsLoopback("192.168.1.1"));
    EXPECT_TRUE(sim::IsLoopback("127.3.4.5"));
}

TEST_F(SimCamera, StatusPagesAndAccounts) {
    auto f = Camera(sim::TSeries::F);
    auto h = Camera(sim::TSeries::H);
    std::string body;
    ASSERT_TRUE(TTools::HttpGet("http://127.0.0.1:" + std::to_string(f->Port()) + "/get_status.cgi", body,
                                20000, "", ""));
    EXPECT_NE(body.find("sys_ver='48.2.0.10'"), std::string::npos);
    ASSERT_TRUE(TTools::HttpGet("http://127.0.0.1:" + std::to_string(h->Port()) + "/get_status.cgi", body,
                                20000, "", ""));
    EXPECT_NE(body.find("sys_ver=\"48.2.0.10\""), std::string::npos);
    TFSYSUpgrade u;
    u.SetIP("127.0.0.1");
    u.SetPort(f->Port());
    u.SetPassword("530274");
    EXPECT_EQ(u.Login(), 0);
    EXPECT_EQ(u.GetOEMName(), "OEMX");
    u.SetPassword("nope");
    EXPECT_EQ(u.Login(), 1);
}

TEST_F(SimCamera, TakesAGoodUploadRebootsAndComesBackWithTheNewVersion) {
    auto h = Camera(sim::TSeries::H, {}, 30000); // long enough to be seen rebooting
    TWithImage<THSYSUpgrade> u;
    Aim(u, *h, sim::TKind::System);
    std::string msg;
    ASSERT_TRUE(u.DoUpgrade(msg)) << msg;
    EXPECT_TRUE(h->Rebooting());
    EXPECT_EQ(u.Login(), 2); // nothing answers while it reboots
    for (int i = 0; i < 1000 && h->Rebooting(); ++i)
        usleep(10000);
    EXPECT_FALSE(h->Rebooting());
    EXPECT_EQ(h->SysVersion(), "9.9.9.9");
    EXPECT_EQ(u.Login(), 0);
}

TEST_F(SimCamera, ChecksTheFormStrictly) {
    auto f = Camera(sim::TSeries::F);
    const std::string t = "/upgrade_firmware.cgi?user=admin&pwd=530274&next_url=reboot.htm";
    const std::string b = "--------120926054109123";
    std::string img = sim::MakeImage(sim::TKind::System, "1.2.3.4", 100);
    auto part = [&](const std::string& type, const std::string& data) {
        return "--" + b +
               "\r\nContent-Disposition: form-data; name=\"file\"; "
               "filename=\"/tmp/x.bin\"\r\nContent-Type: " +
               type + "\r\nContent-Transfer-Encoding: binary\r\n\r\n" + data + "\r\n";
    };
    std::string good = part("application/octet-stream", img) + "--" + b + "--\r\n";
    std::string ct = "multipart/form-data; boundary=" + b;
    EXPECT_EQ(RawExchange(f->Port(), Post(t, "text/plain", good)).substr(0, 12), "HTTP/1.1 400");
    EXPECT_EQ(
        RawExchange(f->Port(), Post(t, ct, part("application/zip", img) + "--" + b + "--\r\n")).substr(0, 12),
        "HTTP/1.1 400");
    EXPECT_EQ(RawExchange(f->Port(), Post(t, ct,
                                          part("application/octet-stream", img) +
                                              part("application/octet-stream", img) + "--" + b + "--\r\n"))
                  .substr(0, 12),
              "HTTP/1.1 400");
    EXPECT_EQ(RawExchange(f->Port(), Post(t, ct, good.substr(0, good.size() - 4))).substr(0, 12),
              "HTTP/1.1 400");
    std::string ui = part("application/octet-stream", sim::MakeImage(sim::TKind::UI, "1.2.3.4", 100)) + "--" +
                     b + "--\r\n";
    EXPECT_EQ(RawExchange(f->Port(), Post(t, ct, ui)).substr(0, 12), "HTTP/1.1 400");
    EXPECT_EQ(RawExchange(f->Port(), Post("/upgrade_firmware.cgi?user=admin&pwd=x", ct, good)).substr(0, 12),
              "HTTP/1.0 401");
    EXPECT_EQ(f->Upgrades(), 0);
    EXPECT_EQ(RawExchange(f->Port(), Post(t, ct, good)).substr(0, 12), "HTTP/1.1 200");
    EXPECT_EQ(f->Upgrades(), 1);
}

TEST_F(SimCamera, UploadFaults) {
    struct TCase {
        const char* Why;
        sim::TCameraFaults Faults;
        const char* Message; // start of the expected failure text
    } cases[] = {
        {"401", {401, false, -1, false}, "Upgrade failed:HTTP/1.1 401 Unauthorized"},
        {"302", {302, false, -1, false}, "Upgrade failed:HTTP/1.1 302 Found"},
        {"500", {500, false, -1, false}, "Upgrade failed:HTTP/1.1 500 Internal Server Error"},
        {"hang", {0, true, -1, false}, "Upgrade failed:"},
        {"closed", {0, false, 1000, false}, "Upgrade failed:"},
    };
    for (const auto& c : cases) {
        auto h = Camera(sim::TSeries::H, c.Faults);
        TWithImage<THUIUpgrade> u;
        Aim(u, *h, sim::TKind::UI);
        std::string msg;
        EXPECT_FALSE(u.DoUpgrade(msg)) << c.Why;
        EXPECT_EQ(msg.rfind(c.Message, 0), 0u) << c.Why << ": " << msg;
        EXPECT_GT(msg.size(), std::string("Upgrade failed:").size()) << c.Why;
        EXPECT_EQ(h->Upgrades(), 0) << c.Why;
    }
}

TEST_F(SimCamera, RebootThatNeverEndsGivesNotWorking) {
    auto cams = DemoOf({sim::TSeries::F});
    cams[0].Faults.RebootForever = true;
    sim::TSimulation simulation(Root + "fm", cams, "127.0.0.1", 0, true);
    std::string log;
    EXPECT_EQ(RunCli(OptionsFor(simulation, *simulation.Cameras()[0], "system"), log), 1);
    EXPECT_NE(log.find("Network camera reset aberrant"), std::string::npos) << log;
}

// Idle cameras sleep in the kernel until a datagram or their stop comes: a stop that did not wake
// them would hang every simulator's end.
TEST(SimWake, ADatagramOrTheStopEndsTheWaitAndTheStopStays) {
    platform::TFd s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(platform::BindIPv4(s.Get(), "127.0.0.1", 0));
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &len);
    sim::TWake wake;
    EXPECT_FALSE(wake.WaitReadable(s.Get(), 0)) << "nothing to read yet";
    sendto(s.Get(), "x", 1, 0, reinterpret_cast<sockaddr*>(&a), len);
    EXPECT_TRUE(wake.WaitReadable(s.Get(), -1));
    char c;
    recv(s.Get(), &c, 1, 0);

    std::atomic<int> ended{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] { ended += wake.WaitReadable(s.Get(), -1) ? 100 : 1; });
    wake.Signal();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(ended, 3) << "every waiter ends, none of them with something to read";
    sendto(s.Get(), "x", 1, 0, reinterpret_cast<sockaddr*>(&a), len);
    EXPECT_FALSE(wake.WaitReadable(s.Get(), -1)) << "the stop wins over a datagram that comes after it";
}

TEST(SimOptions, EveryListedFaultIsTakenAndNothingElse) {
    sim::TCameraConfig c;
    std::string error;
    ASSERT_TRUE(
        sim::ParseCameraSetting("series=E,port=8081,fault=ctp-continue,fault=ctp-refuse-3,fault=ctp-close-0,"
                                "fault=ctp-login-refused,fault=reboot-forever,fault=reboot-old-version",
                                "127.0.0.1", c, error))
        << error;
    EXPECT_EQ(c.Series, sim::TSeries::E);
    EXPECT_EQ(c.Port, 8081);
    EXPECT_TRUE(c.Faults.CtpContinue);
    EXPECT_EQ(c.Faults.CtpRefuseMessage, 3);
    EXPECT_EQ(c.Faults.CtpCloseAtMessage, 0);
    EXPECT_TRUE(c.Faults.CtpLoginRefused);
    EXPECT_TRUE(c.Faults.RebootForever);
    EXPECT_TRUE(c.Faults.RebootOldVersion);
    for (const char* bad :
         {"fault=ctp-refuse-", "fault=ctp-close-x", "fault=nonsense", "colour=red", "port=eighty"}) {
        sim::TCameraConfig d;
        EXPECT_FALSE(sim::ParseCameraSetting(bad, "127.0.0.1", d, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}
