#include "lang/Lang.h"
#include "lang/StoredLanguages.h"
#include "transport/CtpSession.h"
#include "upgrade/ESeries.h"

#include "SimDemo.h"
#include "SimPk2.h"
#include "support/Sandbox.h"
#include "support/SimSupport.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <chrono>
#include <mutex>

using namespace testsupport;

namespace {

// A CTP peer that records every message and answers from a script.
class TCtpPeer {
  public:
    struct TMessage {
        std::string Line, Payload;
    };
    // The answer to message i (the login's body counts as its payload); "" sends nothing and
    // keeps the connection open; each byte 0x01 inside pauses PauseMs before the rest is sent;
    // kStream sends interim answers back to back until the peer goes (at most 30 s).
    static constexpr const char* kStream = "\x02";
    int64_t PauseMs = 50;
    std::function<std::string(const TMessage&, size_t)> Answer = [](const TMessage& m, size_t) {
        return m.Line.find("CTP/1.0") != std::string::npos ? "CTP/1.0 200 OK\r\n\r\n" : "REPLY OK\r\n";
    };

    TCtpPeer() : FServer("127.0.0.1", 0) {
        FServer.OnLine([](std::string_view) { return true; },
                       [this](const std::string& first, sim::TConnection& c) { Serve(first, c); });
    }
    int Port() const { return FServer.Port(); }
    std::vector<TMessage> Messages() {
        std::lock_guard g(FLock);
        return FMessages;
    }

  private:
    void Serve(std::string line, sim::TConnection& c) {
        for (;;) {
            TMessage m{line, ""};
            if (line == "CMD cfgusr CTP/1.0") {
                std::string h;
                int64_t n = 0;
                while (c.ReadLine(h, 1024, 5000) && !h.empty()) {
                    m.Line += "\r\n" + h;
                    if (h.compare(0, 15, "Content-Length:") == 0) n = std::atoll(h.c_str() + 15);
                }
                c.ReadExactly(m.Payload, static_cast<size_t>(n), 5000);
            } else if (line.find("CTP/1.0") == std::string::npos) {
                size_t sp = line.find(' ');
                long long n = sp == std::string::npos ? 0 : std::atoll(line.c_str() + sp + 1);
                if (n > 0 && !c.ReadExactly(m.Payload, static_cast<size_t>(n), 5000)) return;
            }
            size_t index;
            {
                std::lock_guard g(FLock);
                FMessages.push_back(m);
                index = FMessages.size() - 1;
            }
            std::string a = Answer(m, index);
            if (a.empty()) {
                while (c.Wait(20)) {
                }
                return;
            }
            if (a == kStream) {
                auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (std::chrono::steady_clock::now() < end && c.Send("REPLY Continue\r\n")) {
                }
                return;
            }
            for (size_t at = 0;;) {
                size_t pause = a.find('\x01', at);
                if (!c.Send(a.substr(at, pause == std::string::npos ? std::string::npos : pause - at)))
                    return;
                if (pause == std::string::npos) break;
                c.Wait(PauseMs);
                at = pause + 1;
            }
            if (!c.ReadLine(line, 4096, 5000)) return;
        }
    }
    std::mutex FLock;
    std::vector<TMessage> FMessages;
    sim::THttpServer FServer;
};

std::string Md5(const std::string& s) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(s.data(), s.size(), d, &n, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char*>(d), n);
}

std::string Xor(std::string s) {
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>(s[i] ^ CtpPayloadKey[i % 8]);
    return s;
}

class Ctp : public TLangSandbox {
  protected:
    std::string Package(const std::vector<sim::TPk2Record>& records, long long count = -1) {
        std::string p = Temp + "pkg.pk2";
        WriteFile(p, sim::Pk2Bytes(records, std::string("PK2\0", 4), count));
        return p;
    }
};

} // namespace

TEST_F(Ctp, LoginMessageBytesAndItsAnswers) {
    TCtpPeer peer;
    TSocketThread s("127.0.0.1", peer.Port());
    ASSERT_EQ(s.ConnectCamera(), 0);
    EXPECT_EQ(s.SendLogin(" admin ", ""), 0);
    ASSERT_EQ(peer.Messages().size(), 1u);
    EXPECT_EQ(peer.Messages()[0].Line, "CMD cfgusr CTP/1.0\r\nContent-Length:17");
    EXPECT_EQ(peer.Messages()[0].Payload, "-login admin:\r\n\r\n");
    EXPECT_EQ(s.Pending(), "CMD cfgusr CTP/1.0\r\nContent-Length:17\r\n\r\n-login admin:\r\n\r\n");
    peer.Answer = [](const TCtpPeer::TMessage&, size_t) { return std::string("HTTP/1.1 200 OK\r\n\r\n"); };
    EXPECT_EQ(s.SendExit(), 0);
    EXPECT_EQ(peer.Messages()[1].Line, "CMD exit CTP/1.0");
    peer.Answer = [](const TCtpPeer::TMessage&, size_t) { return std::string("REPLY OK\r\n"); };
    EXPECT_EQ(s.SendLogin("admin", "x"), 1);
}

TEST_F(Ctp, FileRecordIsSentInKeyedChunksThenItsDigest) {
    TCtpPeer peer;
    std::string data;
    for (int i = 0; i < 3000; ++i)
        data += static_cast<char>(i * 7);
    std::string pkg =
        Package({{"FILE", "rootfs.img", data}, {"CMD ", "", "flash rootfs"}, {"XTRA", "", "passed over"}});
    TSocketThread s("127.0.0.1", peer.Port());
    ASSERT_EQ(s.ConnectCamera(), 0);
    TPackageFile f(pkg);
    char head[28];
    ASSERT_EQ(f.Read(head, 28), 28u);
    EXPECT_EQ(s.SendRecord(f), 0);
    EXPECT_EQ(s.SendRecord(f), 0);
    EXPECT_EQ(s.SendRecord(f), 0); // the unknown tag is passed over; nothing is sent for it
    auto m = peer.Messages();
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0].Line, "FILE 15");
    EXPECT_EQ(m[0].Payload, "rootfs.img 3000");
    EXPECT_EQ(m[1].Line, "DATA 1400");
    EXPECT_EQ(m[2].Line, "DATA 1400");
    EXPECT_EQ(m[3].Line, "DATA 200");
    // The key restarts with every chunk; with chunks of 1400 bytes that is the file's own offset.
    EXPECT_EQ(m[1].Payload, Xor(data.substr(0, 1400)));
    EXPECT_EQ(m[2].Payload, Xor(data.substr(1400, 1400)));
    EXPECT_EQ(m[3].Payload, Xor(data.substr(2800)));
    EXPECT_EQ(m[4].Line, "MD5 16");
    EXPECT_EQ(m[4].Payload, Md5(m[1].Payload + m[2].Payload + m[3].Payload));
    EXPECT_EQ((m[4].Line + "\r\n" + m[4].Payload).size(), 24u);
    EXPECT_EQ(m[5].Line, "CMD 12");
    EXPECT_EQ(m[5].Payload, Xor("flash rootfs"));
}

TEST_F(Ctp, EmptyFileAndRefusedHeaderGiveOne) {
    TCtpPeer peer;
    std::string pkg = Package({{"FILE", "empty", ""}, {"FILE", "b", "data"}});
    TSocketThread s("127.0.0.1", peer.Port());
    ASSERT_EQ(s.ConnectCamera(), 0);
    TPackageFile f(pkg);
    char head[28];
    f.Read(head, 28);
    EXPECT_EQ(s.SendRecord(f), 1);
    EXPECT_EQ(peer.Messages().size(), 1u); // only the header went out
    peer.Answer = [](const TCtpPeer::TMessage&, size_t) { return std::string("REPLY Refused\r\n"); };
    EXPECT_EQ(s.SendRecord(f), 1);
}

TEST_F(Ctp, AnswerCodes) {
    TCtpPeer peer;
    std::string reply;
    auto ask = [&](const std::string& answer) {
        peer.Answer = [answer](const TCtpPeer::TMessage&, size_t) { return answer; };
        TSocketThread s("127.0.0.1", peer.Port());
        s.ConnectCamera();
        return s.SendText("CMD 10\r\necho hello", reply);
    };
    EXPECT_EQ(ask("REPLY OK\r\n"), 0);
    EXPECT_EQ(ask("REPLY Continue\r\nREPLY OK\r\n"), 0); // both in one read
    EXPECT_EQ(ask("REPLY Error\r\n"), 1);
    EXPECT_EQ(ask("HTTP/1.0 200 OK\r\n"), -3);
    EXPECT_EQ(ask("REPLY Continue\r\nREPLY Error\r\n"), 1);
    EXPECT_EQ(ask("REPLY Continue 0\r\n"), 1);
    EXPECT_EQ(ask(""), -2); // never answers: the scaled 8 s run out
    TSocketThread bad("192.168.1", 81);
    EXPECT_EQ(bad.ConnectCamera(), 4);
    TSocketThread closed("127.0.0.1", peer.Port());
    EXPECT_EQ(closed.SendText("x", reply), -5); // not connected: nothing goes out
}

TEST_F(Ctp, ContinueInALaterReadIsFollowed) {
    TCtpPeer peer;
    std::string reply;
    peer.Answer = [](const TCtpPeer::TMessage&, size_t) {
        return std::string("REPLY Continue\r\n\x01REPLY OK\r\n");
    };
    {
        TSocketThread s("127.0.0.1", peer.Port());
        ASSERT_EQ(s.ConnectCamera(), 0);
        EXPECT_EQ(s.SendText("CMD 10\r\necho hello", reply), 0);
        EXPECT_EQ(reply.substr(0, 2), "OK");
    }
    // Without a further answer the polling ends at its bound instead of waiting for ever.
    peer.Answer = [](const TCtpPeer::TMessage&, size_t) { return std::string("REPLY Continue\r\n\x01"); };
    TSocketThread s("127.0.0.1", peer.Port());
    ASSERT_EQ(s.ConnectCamera(), 0);
    EXPECT_EQ(s.SendText("CMD 10\r\necho hello", reply), -2);
}

TEST_F(Ctp, UpgradeRefusesBadPackagesBeforeConnecting) {
    TCtpPeer peer;
    std::string msg;
    auto run = [&](const std::string& bytes) {
        WriteFile(Temp + "p.pk2", bytes);
        return CtpUpgrade(Temp + "p.pk2", "127.0.0.1", peer.Port(), "admin", "", msg);
    };
    EXPECT_FALSE(run(sim::Pk2Bytes({}, std::string("PK3\0", 4))));
    EXPECT_EQ(msg, "Upgrade file verification failed, please choose the correct upgrade file!");
    sim::TPk2Record longName{"FILE", std::string(300, 'n'), "x"};
    EXPECT_FALSE(run(sim::Pk2Bytes({longName})));
    sim::TPk2Record past{"FILE", "a", "x"};
    past.Size = 5000;
    past.Length = 5009;
    EXPECT_FALSE(run(sim::Pk2Bytes({past})));
    EXPECT_EQ(msg, "Upgrade file verification failed, please choose the correct upgrade file!");
    EXPECT_TRUE(peer.Messages().empty());
    EXPECT_FALSE(CtpUpgrade(Temp + "p.pk2", "192.168.1", 81, "admin", "", msg));
    EXPECT_EQ(msg, "Upgrade file verification failed, please choose the correct upgrade file!");
    WriteFile(Temp + "p.pk2", sim::Pk2Bytes({}));
    EXPECT_FALSE(CtpUpgrade(Temp + "p.pk2", "192.168.1", 81, "admin", "", msg));
    EXPECT_EQ(msg, "IP camera connected failure!");
}

TEST_F(Ctp, UpgradeDialogue) {
    TCtpPeer peer;
    std::string msg = "untouched";
    std::string pkg = Package({});
    EXPECT_TRUE(CtpUpgrade(pkg, "127.0.0.1", peer.Port(), "admin", "530274", msg));
    EXPECT_EQ(msg, "untouched");
    auto m = peer.Messages();
    ASSERT_EQ(m.size(), 3u); // login, exit, hello: a package of no records sends nothing more
    EXPECT_EQ(m[2].Line, "CMD 10");
    EXPECT_EQ(m[2].Payload, "echo hello");

    peer.Answer = [](const TCtpPeer::TMessage& mm, size_t) {
        return std::string(mm.Line.rfind("CMD cfgusr", 0) == 0 ? "CTP/1.0 401 Unauthorized\r\n\r\n"
                                                               : "REPLY OK\r\n");
    };
    EXPECT_FALSE(CtpUpgrade(pkg, "127.0.0.1", peer.Port(), "admin", "x", msg));
    EXPECT_EQ(msg, "IP camera login failed, please check the user and password!");

    peer.Answer = [](const TCtpPeer::TMessage& mm, size_t) {
        return std::string(mm.Line.find("CTP/1.0") != std::string::npos ? "CTP/1.0 200 OK\r\n\r\n"
                           : mm.Line == "FILE 9"                        ? "REPLY OK\r\n"
                                                                        : "REPLY No\r\n");
    };
    EXPECT_FALSE(CtpUpgrade(pkg, "127.0.0.1", peer.Port(), "admin", "", msg));
    EXPECT_EQ(msg, "IP Camera access to upgrade the mode of failure!");
}

TEST_F(Ctp, NegativeRecordCountOrAZeroSizeFileIsAReadError) {
    TCtpPeer peer;
    std::string msg;
    EXPECT_FALSE(CtpUpgrade(Package({}, 0xFFFFFFFF), "127.0.0.1", peer.Port(), "admin", "", msg));
    EXPECT_EQ(msg, "Error on reading ROM for upgrade.");
    EXPECT_FALSE(CtpUpgrade(Package({{"FILE", "e", ""}}), "127.0.0.1", peer.Port(), "admin", "", msg));
    EXPECT_EQ(msg, "Error on reading ROM for upgrade.");
}

// The tests below use the fixed search port 7999; CTest runs them one at a time.
TEST_F(Ctp, SearchGivesTheQueriedCamerasVersionOnly) {
    sim::TCameraConfig a, b;
    a.Series = b.Series = sim::TSeries::E;
    a.Address = "127.0.0.21";
    b.Address = "127.0.0.22";
    a.SysVersion = "47.2.3.18";
    b.SysVersion = "47.9.9.99";
    sim::TSimCamera ca(a), cb(b);
    std::string v;
    ASSERT_TRUE(QueryCtpVersion("127.0.0.22", cb.Port(), v));
    EXPECT_EQ(v, "47.9.9.99 ");
    ASSERT_TRUE(QueryCtpVersion("127.0.0.21", ca.Port(), v));
    EXPECT_EQ(v, "47.2.3.18 ");
    TCtpPeer other; // reachable, but no search answer names it
    ASSERT_TRUE(QueryCtpVersion("127.0.0.1", other.Port(), v));
    EXPECT_EQ(v, "");
    TESYSUpgrade e;
    e.SetIP("127.0.0.1");
    e.SetPort(other.Port());
    EXPECT_FALSE(e.ReadCurrentVersion());
    TSocketThread probe("127.0.0.1", 1);
    TCtpSearchList list;
    EXPECT_EQ(probe.SearchCameras(list), 2);
    EXPECT_EQ(list.count("127.0.0.21"), 1u);
}

TEST_F(Ctp, UnreachableCameraIsAFailedVersionRead) {
    TESYSUpgrade e;
    e.SetIP("127.0.0.1");
    e.SetPort(1);
    e.SetCurVersion("kept");
    EXPECT_FALSE(e.ReadCurrentVersion());
    EXPECT_EQ(e.GetCurVersion(), "kept");
}

TEST_F(Ctp, EndToEndThroughTheCommandLine) {
    sim::TSimulation simulation(Root + "fm", DemoOf({sim::TSeries::E}), "127.0.0.1", 0, true);
    sim::TSimCamera& cam = *simulation.Cameras()[0];
    std::string log;
    EXPECT_EQ(RunCli(OptionsFor(simulation, cam), log), 0) << log;
    EXPECT_EQ(cam.SysVersion(), "47.2.4.18");
    EXPECT_EQ(cam.AppVersion(), "1.5.2.4");
    for (const char* line : {"The version of present device rom is :47.2.3.18 \n",
                             "The version of latest  device rom is :47.2.4.18\n",
                             "The version of present device rom is :1.5.2.3\n", "IP Cam is Working!\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
}

TEST_F(Ctp, CameraRefusingADataChunkEndsWithTheReadError) {
    auto cams = DemoOf({sim::TSeries::E});
    cams[0].Faults.CtpRefuseMessage = 3; // hello, FILE, DATA, DATA: the second chunk
    sim::TSimulation simulation(Root + "fm", cams, "127.0.0.1", 0, true, nullptr, 5000);
    std::string log;
    EXPECT_EQ(RunCli(OptionsFor(simulation, *simulation.Cameras()[0], "system"), log), 1);
    EXPECT_EQ(log.substr(log.rfind(':', log.size() - 2) + 1), "Error on reading ROM for upgrade.\n") << log;
    EXPECT_EQ(simulation.Cameras()[0]->Upgrades(), 0);
}

TEST_F(Ctp, ProgressReportsKeepTheWaitAliveButNotForEver) {
    TCtpPeer peer;
    std::string reply;
    // "Continue" every 5 s for two minutes: each one starts the next wait again.
    peer.PauseMs = platform::Scaled(5000);
    std::string progress;
    for (int i = 0; i < 24; ++i)
        progress += "REPLY Continue\r\n\x01";
    peer.Answer = [progress](const TCtpPeer::TMessage&, size_t) { return progress + "REPLY OK\r\n"; };
    {
        TSocketThread s("127.0.0.1", peer.Port());
        ASSERT_EQ(s.ConnectCamera(), 0);
        EXPECT_EQ(s.SendText("CMD 10\r\necho hello", reply), 0);
    }
    // Interim answers back to back without end: the answer's own bound ends it.
    peer.Answer = [](const TCtpPeer::TMessage&, size_t) { return std::string(TCtpPeer::kStream); };
    TSocketThread s("127.0.0.1", peer.Port());
    ASSERT_EQ(s.ConnectCamera(), 0);
    EXPECT_EQ(s.SendText("CMD 10\r\necho hello", reply), -2);
}

TEST_F(Ctp, PortsOutsideTheRangeAreUnreachableNeverWrapped) {
    TCtpPeer peer;
    TSocketThread wrapped("127.0.0.1", peer.Port() + 65536);
    EXPECT_EQ(wrapped.ConnectCamera(), 5);
    TSocketThread zero("127.0.0.1", 0);
    EXPECT_EQ(zero.ConnectCamera(), 5);
    TCtpSearchRecord r;
    ApplyCtpSearchLine("-portctp 65617", r);
    EXPECT_EQ(r.CtpPort, 81);
    ApplyCtpSearchLine("-portctp 0", r);
    EXPECT_EQ(r.CtpPort, 81);
    ApplyCtpSearchLine("-portctp 65535", r);
    EXPECT_EQ(r.CtpPort, 65535);
}

TEST_F(Ctp, InterimAnswersAndTheCameraThatNeverComesBack) {
    auto cams = DemoOf({sim::TSeries::E});
    cams[0].Faults.CtpContinue = true;
    sim::TSimulation simulation(Root + "fm", cams, "127.0.0.1", 0, true, nullptr, 4000);
    std::string log;
    EXPECT_EQ(RunCli(OptionsFor(simulation, *simulation.Cameras()[0], "ui"), log), 0) << log;

    cams[0].Faults = {};
    cams[0].Faults.RebootForever = true;
    sim::TSimulation never(Root + "fm2", cams, "127.0.0.1", 0, true, nullptr, 4000);
    EXPECT_EQ(RunCli(OptionsFor(never, *never.Cameras()[0], "ui"), log), 1);
    EXPECT_NE(log.find("Network camera reset aberrant"), std::string::npos) << log;
}
