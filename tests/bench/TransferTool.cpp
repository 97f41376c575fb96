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
//                                      dialogue's fixed waits: "ctp-upload SECONDS MESSAGES BYTES"
#include "transport/OnvifSoap.h"
#include "transport/CtpSession.h"
#include "upgrade/HSeries.h"
#include "upgrade/PackageFiles.h"
#include "upgrade/OnvifSeries.h"

#include "support/TestHttpServer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

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
    // The floor of the same number of messages comes from ctp_floor, in processes of its own.
    std::printf("ctp-upload %.6f %ld %.0f\n", secs, messages, bytes);
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
    std::fprintf(stderr,
                 "usage: transfer_tool serve FILE | download URL FILE | md5 FILE DIGEST | unzip ZIP "
                 "TARGET | upload PORT IMAGE | onvif PORT IMAGE | onvif-uri PORT | ctp PORT PACKAGE\n");
    return 2;
}
