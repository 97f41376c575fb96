// Runs one transfer step of the upgrade on its own, so that a script can time it and read its
// peak memory beside the standard tools that do the same job.
//   transfer_tool serve FILE         serve FILE on 127.0.0.1 (prints the URL) until stdin closes
//   transfer_tool download URL FILE
//   transfer_tool md5 FILE DIGEST
//   transfer_tool unzip ARCHIVE TARGET
//   transfer_tool upload PORT IMAGE    the H-series UI upload to a camera on 127.0.0.1
#include "upgrade/uHUpgrade.h"
#include "upgrade/uIUpgradeOpt.h"

#include "support/TestHttpServer.h"

#include <cstdio>
#include <iostream>
#include <string>

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
    std::fprintf(stderr, "usage: transfer_tool serve FILE | download URL FILE | md5 FILE DIGEST | unzip ZIP TARGET | upload PORT IMAGE\n");
    return 2;
}
