// What a batch believes of the search on a LAN with strangers on it: spoofed replies, a stranger
// claiming a real camera's MAC, host names and junk, one camera named twice, too many cameras;
// and the search's own receivers under load.
#include "cli/BatchCommand.h"
#include "cli/CameraSelection.h"
#include "cli/SearchCommand.h"
#include "discovery/LanSearch.h"
#include "discovery/SearchReplies.h"
#include "discovery/UdpListener.h"
#include "lang/Lang.h"
#include "transport/DeviceControlLibrary.h"

#include "SimDemo.h"
#include "SimOnvif.h"
#include "SimSearch.h"
#include "SimWsd.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <set>
#include <sstream>
#include <thread>

using namespace testsupport;

namespace {

// A host on the LAN that answers every MO_I, CTP and WS-Discovery search with what it is told to,
// from its own address whatever its replies name.
class TSpoofer {
  public:
    explicit TSpoofer(const std::string& from = "127.0.0.1") {
        for (int port : {10000, 7999, 3702}) {
            platform::TFd s(platform::OpenSocket(SOCK_DGRAM, true));
            EXPECT_TRUE(platform::BindIPv4(s.Get(), "127.255.255.255", port));
            FListen.push_back(std::move(s));
        }
        FReply = platform::TFd(platform::OpenSocket(SOCK_DGRAM));
        EXPECT_TRUE(platform::BindIPv4(FReply.Get(), from, 0));
    }
    ~TSpoofer() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
    }
    void Start() {
        FThread = std::thread([this] { Run(); });
    }
    std::vector<std::string> MoiReplies, CtpReplies, WsdReplies;

  private:
    void Run() {
        pollfd p[3] = {
            {FListen[0].Get(), POLLIN, 0}, {FListen[1].Get(), POLLIN, 0}, {FListen[2].Get(), POLLIN, 0}};
        while (!FStop) {
            if (poll(p, 3, 20) <= 0) continue;
            for (int i = 0; i < 3; ++i) {
                if (!(p[i].revents & POLLIN)) continue;
                char buf[2048];
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t n = recvfrom(p[i].fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n <= 0) continue;
                for (const std::string& r : i == 0 ? MoiReplies : i == 1 ? CtpReplies : WsdReplies)
                    sendto(FReply.Get(), r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
            }
        }
    }
    std::vector<platform::TFd> FListen;
    platform::TFd FReply;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

std::string MoiReplyNaming(const std::string& address, int port, const std::string& macHex) {
    sim::TSearchIdentity id;
    id.Series = sim::TSeries::F;
    id.Address = address;
    id.HttpPort = port;
    id.Name = "STRANGER";
    id.SysVersion = "48.2.0.10";
    id.AppVersion = "2.4.8.6";
    for (size_t i = 0; i < 6 && macHex.size() == 12; ++i)
        id.Mac[i] = static_cast<unsigned char>(std::stoi(macHex.substr(2 * i, 2), nullptr, 16));
    return sim::SearchAnswers(id, MoiProbe()).at(0);
}

class SearchTrust : public TSandbox {
  protected:
    void SetUp() override {
        TSandbox::SetUp();
        setenv("LANG", "C", 1);
        unsetenv("LC_ALL");
    }
    void TearDown() override {
        Sim.reset();
        SetLangDir("");
        TSandbox::TearDown();
    }
    void Start(std::vector<sim::TCameraConfig> cameras) {
        for (auto& c : cameras)
            c.RebootMs = 1000;
        Sim = std::make_unique<sim::TSimulation>(Root + "fm", cameras, "127.0.0.1", 0, true);
    }
    TCliBatchOptions Options() {
        TCliBatchOptions o;
        o.FromSearch = true;
        o.Rounds = 3;
        o.External = false;
        o.FirmwareServer = Sim->Firmware().BaseURL();
        o.Lang = "en";
        o.Json = true;
        return o;
    }
    // The batch's exit status; its report goes to out, what it says on the side to notes.
    int Run(const TCliBatchOptions& o, std::string& out, std::string& notes) {
        std::ostringstream s;
        std::istringstream in;
        testing::internal::CaptureStderr();
        int rc = RunBatch(o, in, s);
        notes = testing::internal::GetCapturedStderr();
        out = s.str();
        return rc;
    }
    std::unique_ptr<sim::TSimulation> Sim;
};

} // namespace

TEST_F(SearchTrust, SpoofedRepliesGetNoLoginAndAStolenMacDivertsNothing) {
    Start(DemoOf({sim::TSeries::F}));
    const sim::TSimCamera& real = *Sim->Cameras()[0];
    // The real camera's MAC, as a stranger on the LAN would see it in the camera's own replies.
    std::ostringstream json, notes;
    TCliSearchOptions so;
    so.Format = "json";
    so.External = false;
    ASSERT_EQ(RunSearch(so, json, notes), 0);
    size_t at = json.str().find("\"mac\": \"");
    ASSERT_NE(at, std::string::npos) << json.str();
    std::string mac = json.str().substr(at + 8, 12);
    EXPECT_NE(json.str().find("\"source\": \"127.0.0.1\""), std::string::npos) << json.str();

    TTestHttpServer named("127.0.0.5"), thief("127.0.0.6"), host("127.0.0.7");
    TSpoofer spoofer;
    spoofer.MoiReplies = {MoiReplyNaming("127.0.0.5", named.Port(), "0253AA000001"),
                          MoiReplyNaming("127.0.0.6", thief.Port(), mac), MoiReplyNaming("0.0.0.0", 0, "")};
    spoofer.CtpReplies = {"REPLY\r\n-ip localhost\r\n-portctp " + std::to_string(host.Port()) +
                              "\r\n-mac 02:53:AA:00:00:02\r\n",
                          "REPLY"};
    spoofer.Start();
    TCliBatchOptions o = Options();
    o.Check = true;
    o.Firmware = "system";
    std::string out, said;
    EXPECT_EQ(Run(o, out, said), 0) << out << said;
    // One session, the real camera's; nothing reached the hosts the strangers named.
    EXPECT_NE(out.find("\"sessions\": 1,"), std::string::npos) << out;
    EXPECT_NE(out.find("{\"camera\": {\"ip\": \"127.0.0.1\", \"port\": " + std::to_string(real.Port())),
              std::string::npos)
        << out;
    EXPECT_EQ(named.RequestCount() + thief.RequestCount() + host.RequestCount(), 0u);
    EXPECT_NE(said.find("left out: F 127.0.0.5:" + std::to_string(named.Port()) +
                        " from 127.0.0.1: it names an address it was not sent from"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("left out: E localhost:" + std::to_string(host.Port()) +
                        " from 127.0.0.1: its address is no dotted IPv4 address"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("127.0.0.6"), std::string::npos) << "the stolen MAC never even made a row: " << said;
    // Each left-out row is named once, however many rounds repeated it.
    EXPECT_EQ(said.find("127.0.0.5"), said.rfind("127.0.0.5")) << said;
}

TEST_F(SearchTrust, AStandardCameraIsUpgradedOnceItsAddressAnsweredAndStrangersGetNoLogin) {
    sim::TOnvifConfig config;
    config.RebootMs = 1000;
    config.UploadDelayMs = 200;
    sim::BuildOnvifFirmware(Root + "fm/", {config});
    Start({});
    sim::TOnvifCamera camera(config);
    sim::TWsdCamera wsd("127.0.0.1", camera.Port(), "Gate", "5e1b7a4c-1111-4222-8333-944455566677");
    // Strangers name a web server that is no camera and an address where nothing listens.
    TTestHttpServer web("127.0.0.5");
    TSpoofer spoofer("127.0.0.9");
    spoofer.WsdReplies = {sim::ProbeMatches("uuid:1", "aaaa-1", "Web", "127.0.0.5", web.Port()),
                          sim::ProbeMatches("uuid:1", "aaaa-2", "Nobody", "127.0.0.6", 9)};
    spoofer.Start();
    TCliBatchOptions o = Options();
    o.External = true;
    o.Series = "ONVIF";
    o.Password = config.Password;
    o.MaxCameras = 2;
    std::string out, said;
    EXPECT_EQ(Run(o, out, said), 1);
    EXPECT_NE(said.find("the search found 3 cameras (3 of them standard cameras not yet asked), more than "
                        "--max-cameras 2: no session started"),
              std::string::npos)
        << said;
    EXPECT_EQ(web.RequestCount() + camera.Upgrades(), 0u) << "too many: no address is even asked";
    o.MaxCameras = 3;
    EXPECT_EQ(Run(o, out, said), 0) << out << said;
    EXPECT_EQ(camera.Upgrades(), 1);
    EXPECT_NE(out.find("\"sessions\": 1,"), std::string::npos) << out;
    // The one question the web server got carries nothing of the account.
    ASSERT_EQ(web.RequestCount(), 1u);
    std::string asked = web.Requests()[0];
    EXPECT_NE(asked.find("GetSystemDateAndTime"), std::string::npos) << asked;
    EXPECT_EQ(HeaderOf(asked, "Authorization"), "");
    EXPECT_EQ(asked.find("Security"), std::string::npos) << asked;
    EXPECT_EQ(asked.find(config.Password), std::string::npos) << asked;
    EXPECT_NE(said.find("left out: S 127.0.0.5:" + std::to_string(web.Port()) +
                        " from an unknown sender: its address answered, but not as a standard camera"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("left out: S 127.0.0.6:9 from an unknown sender: its address did not answer as a "
                        "standard camera"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("127.0.0.6"), said.rfind("127.0.0.6")) << said;
}

// Addresses that accept and hold the question: no more are asked at once than allowed, each is
// asked once, nothing once the batch stops; and an answer that trickles is given up at the
// time-out even though it would name a clock in the end.
TEST(StandardCameraCheck, ManyAddressesAreAskedBoundedOnceAndNeverPastTheTimeOut) {
    std::atomic<int> asked{0};
    std::atomic<bool> release{false};
    std::vector<std::unique_ptr<sim::THttpServer>> holding;
    std::vector<TAwaiting> awaiting(12);
    auto await = [](TAwaiting& a, const std::string& ip, int port) {
        a.Camera.IP = ip;
        a.Camera.Port = std::to_string(port);
        a.Camera.Series = 'O';
    };
    for (TAwaiting& a : awaiting) {
        holding.push_back(std::make_unique<sim::THttpServer>("127.0.0.5", 0));
        holding.back()->OnHttp([&](const sim::THttpRequest&, sim::TConnection&) {
            ++asked;
            while (!release)
                platform::Sleep(5, 5);
        });
        await(a, "127.0.0.5", holding.back()->Port());
    }
    std::vector<TLeftOut> leftOut;
    std::thread check([&] { ConfirmStandardCameras(awaiting, leftOut, 4, 600000); });
    for (int i = 0; i < 400 && asked < 4; ++i)
        platform::Sleep(10, 10);
    platform::Sleep(100, 50);
    EXPECT_EQ(asked.load(), 4) << "four questions wait for their answers; no fifth goes out meanwhile";
    release = true;
    check.join();
    EXPECT_EQ(asked.load(), 12);
    ASSERT_EQ(leftOut.size(), 12u);
    for (const TLeftOut& l : leftOut)
        EXPECT_EQ(l.Reason, "its address did not answer as a standard camera");
    std::atomic<bool> stop{true};
    EXPECT_TRUE(ConfirmStandardCameras(awaiting, leftOut, 4, 1000, &stop).empty());
    EXPECT_EQ(asked.load(), 12) << "a stopped batch asks nothing";

    TTestHttpServer slow("127.0.0.6");
    TCanned clock = Answer(
        200,
        "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body><UTCDateTime><Time><Hour>1"
        "</Hour><Minute>2</Minute><Second>3</Second></Time><Date><Year>2026</Year><Month>12</Month><Day>10"
        "</Day></Date></UTCDateTime>" +
            std::string(2000, ' ') + "</e:Body></e:Envelope>",
        "Content-Type: application/soap+xml\r\n");
    slow.On("/onvif/device_service", clock);
    std::vector<TAwaiting> one(1);
    await(one[0], "127.0.0.6", slow.Port());
    EXPECT_EQ(ConfirmStandardCameras(one, leftOut, 4, 1000).size(), 1u) << "the clock at once is a camera";
    // Fast enough for every stall guard, and whole only after some seconds.
    clock.TrickleBytes = 64;
    clock.TrickleDelayMs = 50;
    slow.On("/onvif/device_service", clock);
    leftOut.clear();
    EXPECT_TRUE(ConfirmStandardCameras(one, leftOut, 4, 1000).empty());
    ASSERT_EQ(leftOut.size(), 1u);
    EXPECT_EQ(leftOut[0].Reason, "its address did not answer as a standard camera");
}

TEST_F(SearchTrust, ACameraNamedTwiceIsUpgradedOnce) {
    Start(DemoOf({sim::TSeries::F}));
    const sim::TSimCamera& cam = *Sim->Cameras()[0];
    std::string port = std::to_string(cam.Port());
    WriteFile(Root + "twice.csv",
              "ip,port,series\r\n127.0.0.1," + port + ",F\r\n127.0.0.1," + port + ",F\r\n");
    TCliBatchOptions o = Options();
    o.FromSearch = false;
    o.CamerasFile = Root + "twice.csv";
    o.Firmware = "system";
    o.Jobs = 2;
    std::string out, said;
    EXPECT_EQ(Run(o, out, said), 0) << out << said;
    EXPECT_EQ(cam.Upgrades(), 1);
    EXPECT_NE(out.find("\"sessions\": 1,"), std::string::npos) << out;
    EXPECT_NE(said.find("are one camera (the same address and port)"), std::string::npos) << said;
}

TEST_F(SearchTrust, ASearchFindingMoreCamerasThanAllowedStartsNothing) {
    Start(sim::ManyCameras("127.0.0.1", 3));
    TCliBatchOptions o = Options();
    o.MaxCameras = 2;
    std::string out, said;
    EXPECT_EQ(Run(o, out, said), 1);
    EXPECT_EQ(out, "");
    EXPECT_NE(said.find("the search found 3 cameras, more than --max-cameras 2: no session started"),
              std::string::npos)
        << said;
    for (const auto& c : Sim->Cameras())
        EXPECT_EQ(c->Upgrades(), 0);
}

TEST_F(SearchTrust, EverySimulatedCameraAnswersForItselfWithAMacOfItsOwn) {
    Start(sim::ManyCameras("127.0.0.1", 25));
    std::ostringstream notes;
    CreateZoltSeries(); // as the command line's start does
    std::vector<TDevInfo> rows = SearchLan(3, false, notes);
    ReleaseZoltSeries();
    std::set<std::string> macs, names;
    for (const TDevInfo& r : rows) {
        if (!SeriesName(r.DevType)) continue;
        EXPECT_TRUE(r.AnsweredForItself()) << r.IP << " from " << r.Source;
        macs.insert(r.MACHex);
        names.insert(r.IP + ":" + std::to_string(r.HttpPort));
    }
    EXPECT_EQ(names.size(), 25u);
    EXPECT_EQ(macs.size(), 25u);
}

TEST(SearchListener, LosesNothingWhileItsHandOverWaits) {
    TUdpListener listener;
    std::atomic<int> got{0};
    listener.OnReceive = [&](const std::string&, const std::string& from, int) {
        if (from == "127.0.0.1") ++got;
    };
    int port = 0;
    for (int p = 30000; p < 31000 && !port; ++p)
        if (listener.Activate(p)) port = p;
    ASSERT_NE(port, 0);
    platform::TFd tx(platform::OpenSocket(SOCK_DGRAM));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    constexpr int kBurst = 3000;
    std::string answer(300, 'a');
    // The main thread is busy (the hand-over cannot run) while a large site answers.
    platform::Synchronize([&] {
        for (int i = 0; i < kBurst; ++i) {
            sendto(tx.Get(), answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            if (i % 100 == 99) platform::Sleep(5, 5);
        }
    });
    for (int i = 0; i < 400 && got < kBurst; ++i)
        platform::Sleep(10, 10);
    EXPECT_EQ(got.load(), kBurst);
    listener.Deactivate();
}

TEST(SearchListener, DatagramsQueuedWhenItStopsAreNeverHandedOver) {
    platform::TDatagramReceiver receiver;
    platform::TFd rx(platform::OpenSocket(SOCK_DGRAM));
    ASSERT_TRUE(platform::BindIPv4(rx.Get(), "127.0.0.1", 0));
    sockaddr_in to{};
    socklen_t len = sizeof to;
    ASSERT_EQ(getsockname(rx.Get(), reinterpret_cast<sockaddr*>(&to), &len), 0);
    std::atomic<bool> release{false};
    std::atomic<size_t> handed{0}, firstBatch{0};
    ASSERT_TRUE(receiver.Start(std::move(rx), [&](std::vector<platform::TDatagram>& batch) {
        if (handed == 0) firstBatch = batch.size();
        handed += batch.size();
        while (!release)
            platform::Sleep(5, 5);
    }));
    platform::TFd tx(platform::OpenSocket(SOCK_DGRAM));
    auto send = [&](int count) {
        for (int i = 0; i < count; ++i)
            sendto(tx.Get(), "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    };
    send(1);
    for (int i = 0; i < 200 && handed == 0; ++i)
        platform::Sleep(10, 10);
    ASSERT_EQ(handed.load(), 1u);
    // The hand-over is busy; these are read into the queue meanwhile.
    send(50);
    platform::Sleep(100, 50);
    receiver.RequestStop();
    release = true;
    receiver.Join();
    EXPECT_EQ(handed.load(), firstBatch.load()) << "nothing queued at the stop is handed over";
}

class SearchEnd : public TLangSandbox {};

TEST_F(SearchEnd, TheListIsTakenAtOnceWhileAHandOverIsStuck) {
    sim::TSimulation sim(Root + "fm", sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0, true, nullptr, 4096);
    std::vector<TDevInfo> rows;
    {
        TLanSearch lan;
        lan.Start();
        size_t listed = 0;
        for (int round = 0; round < 20 && listed < 3; ++round) {
            platform::Synchronize([&] { lan.Engine().SearchRound(round, false); });
            platform::Sleep(200, 50);
            platform::Synchronize([&] { listed = lan.Engine().Count(); });
        }
        ASSERT_GE(listed, 3u);
        // The owner's thread is busy with a round whose answers cannot be handed over.
        std::atomic<bool> release{false}, busy{false};
        std::thread owner([&] {
            platform::Synchronize([&] {
                lan.Engine().SearchRound(1, false);
                busy = true;
                while (!release)
                    platform::Sleep(5, 5);
            });
        });
        while (!busy)
            platform::Sleep(5, 5);
        platform::Sleep(100, 50); // the answers come in and wait for their hand-over
        lan.StopReceiving();
        rows = lan.Engine().Rows();
        EXPECT_FALSE(release) << "taking the list waited for no hand-over";
        release = true;
        owner.join();
        ASSERT_EQ(rows.size(), lan.Engine().Count());
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(rows[i].MAC, lan.Engine().Row(i).MAC);
    }
    EXPECT_GE(rows.size(), 3u);
}
