// Runs one transfer step of the upgrade on its own, so that a script can time it and read its
// peak memory beside the standard tools that do the same job.
//   transfer_tool serve FILE         serve FILE on 127.0.0.1 (prints the URL) until stdin closes
//   transfer_tool download URL FILE
//   transfer_tool md5 FILE DIGEST
//   transfer_tool unzip ARCHIVE TARGET
//   transfer_tool upload PORT IMAGE    the H-series UI upload to a camera on 127.0.0.1
//   transfer_tool onvif PORT IMAGE     the ONVIF upgrade request and upload to a standard camera
//   transfer_tool onvif-uri PORT       only the request: prints the upload address it names
//   transfer_tool ctp PORT PACKAGE     the records of a .pk2 to an E camera, timed without the
//                                      dialogue's fixed waits, beside the stop-and-wait bound
#include "transport/uTSocketThread.h"
#include "upgrade/uHUpgrade.h"
#include "upgrade/uIUpgradeOpt.h"
#include "upgrade/uOnvifUpgrade.h"
#include "transport/OnvifSoap.h"

#include "support/TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The round trip of one DATA-sized message and a short answer over loopback TCP.
double RoundTripSeconds(int trips) {
    int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(l, 1);
    socklen_t len = sizeof a;
    getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    const size_t message = 1400 + 11;
    std::thread peer([&] {
        int c = accept(l, nullptr, nullptr);
        int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::vector<char> buf(message);
        for (int i = 0; i < trips; ++i) {
            size_t got = 0;
            while (got < message) {
                ssize_t n = recv(c, buf.data() + got, message - got, 0);
                if (n <= 0) return;
                got += static_cast<size_t>(n);
            }
            send(c, "REPLY OK\r\n", 10, 0);
        }
        close(c);
    });
    int s = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    std::vector<char> msg(message, 'd');
    char reply[16];
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < trips; ++i) {
        send(s, msg.data(), msg.size(), 0);
        recv(s, reply, sizeof reply, 0);
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(s);
    peer.join();
    close(l);
    return secs / trips;
}

int CtpRun(int port, const std::string& package) {
    TPackageFile f(package);
    unsigned char head[28];
    if (f.Read(head, 28) != 28) return 1;
    int records = head[24] | head[25] << 8 | head[26] << 16 | head[27] << 24;
    {
        TSocketThread a("127.0.0.1", port);
        if (a.ConnectCamera() != 0 || a.SendLogin("admin", "530274") != 0 || a.SendExit() != 0) {
            std::fprintf(stderr, "login or exit refused\n");
            return 1;
        }
    }
    TSocketThread b("127.0.0.1", port);
    if (b.ConnectCamera() != 0) return 1;
    std::string reply;
    auto start = std::chrono::steady_clock::now();
    if (b.SendText("CMD 10\r\necho hello", reply) != 0) return 1;
    for (int i = 0; i < records; ++i)
        if (b.SendRecord(f) != 0) {
            std::fprintf(stderr, "record %d refused\n", i);
            return 1;
        }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The messages: the hello, and per file its header, its chunks and its digest, per command one.
    TPackageFile g(package);
    g.Read(head, 28);
    long messages = 1;
    double bytes = 0;
    for (int i = 0; i < records; ++i) {
        unsigned char rec[24];
        g.Read(rec, 24);
        int L = rec[20] | rec[21] << 8 | rec[22] << 16 | rec[23] << 24;
        if (std::memcmp(rec, "FILE", 4) == 0) {
            long size = L - 8;
            unsigned char n4[4];
            g.Read(n4, 4);
            size -= n4[0] | n4[1] << 8;
            messages += 2 + (size + 1399) / 1400;
            bytes += static_cast<double>(size);
            g.Skip(L - 4);
        } else {
            messages += 1;
            g.Skip(L);
        }
    }
    double rtt = RoundTripSeconds(20000);
    double bound = static_cast<double>(messages) * rtt;
    std::printf("CTP upload of %.1f MiB in %ld messages: %.3f s, %.1f MiB/s\n", bytes / 1048576, messages,
                secs, bytes / 1048576 / secs);
    std::printf("round trip %.1f us; stop-and-wait bound %.3f s; upload / bound = %.2f\n", rtt * 1e6, bound,
                secs / bound);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "serve" && argc == 3) {
        testsupport::TTestHttpServer srv;
        testsupport::TCanned file;
        file.File = argv[2];
        srv.On("/file", file);
        std::cout << srv.Url("/file") << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        return 0;
    }
    if (cmd == "download" && argc == 4) return TUpgradeOpt::DownloadFile(argv[2], argv[3]) ? 0 : 1;
    if (cmd == "md5" && argc == 4) return TUpgradeOpt::CheckMD5(argv[2], argv[3]) ? 0 : 1;
    if (cmd == "unzip" && argc == 4) return TUpgradeOpt::UnzipFile(argv[2], argv[3]) ? 0 : 1;
    if (cmd == "ctp" && argc == 4) return CtpRun(std::stoi(argv[2]), argv[3]);
    if (cmd == "upload" && argc == 4) {
        struct TAt : THUIUpgrade {
            explicit TAt(const std::string& image) { FImagePath = image; }
        } u(argv[3]);
        u.SetIP("127.0.0.1");
        u.SetPort(std::stoi(argv[2]));
        u.SetPassword("530274");
        std::string message;
        bool ok = u.DoUpgrade(message);
        if (!ok) std::fprintf(stderr, "%s\n", message.c_str());
        return ok ? 0 : 1;
    }
    if ((cmd == "onvif" && argc == 4) || (cmd == "onvif-uri" && argc == 3)) {
        TOnvifUpgrade u;
        u.SetIP("127.0.0.1");
        u.SetPort(std::stoi(argv[2]));
        u.SetUser("admin");
        u.SetPassword("Onvif530274");
        if (u.Login() != 0) return 1;
        if (cmd == "onvif-uri") {
            onvif::TCallResult r = onvif::Call(
                u.ServiceURL(), std::string(onvif::DeviceNs) + "/StartFirmwareUpgrade",
                [] {
                    return onvif::Envelope("<tds:StartFirmwareUpgrade/>", "admin", "Onvif530274",
                                           std::chrono::system_clock::now());
                },
                "admin", "Onvif530274", 20000);
            std::cout << r.Answer.Value("UploadUri") << std::endl;
            return r.Answer.Value("UploadUri").empty() ? 1 : 0;
        }
        if (u.PrepareLocalPackage(argv[3], "", "") != 0) return 1;
        std::string message;
        bool ok = u.DoUpgrade(message);
        if (!ok) std::fprintf(stderr, "%s\n", message.c_str());
        return ok ? 0 : 1;
    }
    std::fprintf(stderr, "usage: transfer_tool serve FILE | download URL FILE | md5 FILE DIGEST | unzip ZIP "
                         "TARGET | upload PORT IMAGE | onvif PORT IMAGE | onvif-uri PORT | ctp PORT PACKAGE\n");
    return 2;
}
