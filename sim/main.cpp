// ipcam-sim: simulated cameras and a firmware server on loopback, for trying the tools without
// hardware. Stops on SIGINT or SIGTERM, at the end of standard input with --stdin, or after
// --seconds.
#include "SimDemo.h"
#include "SimPk2.h"
#include "platform/Platform.h"
#include "transport/Tools.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> gStop{false};
void OnSignal(int) {
    gStop = true;
}

// "series=F,port=8081,user=admin,password=530274,sys=48.2.0.10,app=2.4.8.6,oem=OEMX,model=M,
//  reboot-ms=20000,fault=upload-hang|upload-401|upload-302|upload-500|close-mid-upload|reboot-forever|
//  ctp-login-refused|ctp-continue|ctp-refuse-N|ctp-close-N" (N: the message of the upload
//  connection, the hello being 0); fault= may be given more than once.
bool ParseCamera(const std::string& setting, const std::string& address, sim::TCameraConfig& c,
                 std::string& error) {
    c.Address = address;
    size_t pos = 0;
    while (pos <= setting.size()) {
        size_t comma = setting.find(',', pos);
        std::string item = setting.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? setting.size() + 1 : comma + 1;
        if (item.empty()) continue;
        size_t eq = item.find('=');
        std::string k = item.substr(0, eq), v = eq == std::string::npos ? "" : item.substr(eq + 1);
        try {
            if (k == "series") {
                if (!sim::ParseSeries(v, c.Series)) throw std::invalid_argument("series");
            } else if (k == "address")
                c.Address = v;
            else if (k == "port")
                c.Port = std::stoi(v);
            else if (k == "user")
                c.User = v;
            else if (k == "password")
                c.Password = v;
            else if (k == "sys")
                c.SysVersion = v;
            else if (k == "app")
                c.AppVersion = v;
            else if (k == "oem")
                c.OEM = v;
            else if (k == "model")
                c.Model = v;
            else if (k == "reboot-ms")
                c.RebootMs = std::stoll(v);
            else if (k == "fault") {
                if (v == "upload-hang")
                    c.Faults.UploadHang = true;
                else if (v == "upload-401")
                    c.Faults.UploadStatus = 401;
                else if (v == "upload-302")
                    c.Faults.UploadStatus = 302;
                else if (v == "upload-500")
                    c.Faults.UploadStatus = 500;
                else if (v == "close-mid-upload")
                    c.Faults.CloseAfterBytes = 1024;
                else if (v == "reboot-forever")
                    c.Faults.RebootForever = true;
                else
                    throw std::invalid_argument("fault");
            } else
                throw std::invalid_argument("key");
        } catch (const std::exception&) {
            error = "bad camera setting \"" + item + "\"";
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated IP cameras and a firmware server, on loopback only."};
    bool demo = false, useStdin = false;
    std::string listen = "127.0.0.1", root;
    int firmwarePort = 0, basePort = 0;
    double seconds = 0;
    std::vector<std::string> cameraSettings;
    uint64_t imageSize = 64 * 1024;
    app.add_flag("--demo", demo, "one camera of every series and a matching firmware tree");
    app.add_option("--listen", listen, "loopback address to serve on")->capture_default_str();
    app.add_option("--firmware-root", root, "folder to serve below /FM/ (the demo builds one when empty)");
    app.add_option("--firmware-port", firmwarePort, "port of the firmware server (0: any free one)");
    app.add_option("--base-port", basePort, "first camera port of the demo (0: any free ones)");
    app.add_option(
        "--camera", cameraSettings,
        "a camera: series=E|F|H|T|C,address=,port=,user=,password=,sys=,app=,oem=,model=,reboot-ms=,fault=");
    app.add_option("--image-size", imageSize, "size of the demo's images in bytes")->capture_default_str();
    app.add_option("--seconds", seconds, "stop after this many seconds (0: run until stopped)");
    app.add_flag("--stdin", useStdin, "stop when standard input ends");
    std::string pk2Out;
    std::vector<std::string> pk2Items;
    CLI::App* pk2 = app.add_subcommand("pk2", "write a .pk2 package from files and commands, then end");
    pk2->add_option("output", pk2Out, "the package to write")->required();
    pk2->add_option("items", pk2Items, "file:PATH (a FILE record named after the file) or cmd:TEXT, in order")
        ->required();
    CLI11_PARSE(app, argc, argv);

    if (pk2->parsed()) {
        std::vector<sim::TPk2Record> records;
        for (const std::string& item : pk2Items) {
            if (item.rfind("cmd:", 0) == 0) {
                records.push_back({"CMD ", "", item.substr(4)});
            } else if (item.rfind("file:", 0) == 0) {
                std::ifstream f(item.substr(5), std::ios::binary);
                if (!f) {
                    std::cerr << "ipcam-sim: cannot read " << item.substr(5) << "\n";
                    return 1;
                }
                std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
                std::string name =
                    item.substr(item.rfind('/') == std::string::npos ? 5 : item.rfind('/') + 1);
                records.push_back({"FILE", name, data});
            } else {
                std::cerr << "ipcam-sim: \"" << item << "\" is neither file:PATH nor cmd:TEXT\n";
                return 2;
            }
        }
        try {
            sim::WritePk2(pk2Out, records);
        } catch (const std::exception& e) {
            std::cerr << "ipcam-sim: " << e.what() << "\n";
            return 1;
        }
        std::cout << "wrote " << pk2Out << " with " << records.size() << " records\n";
        return 0;
    }

    if (!sim::IsLoopback(listen)) {
        std::cerr << "ipcam-sim: " << listen << " is not a loopback address\n";
        return 2;
    }
    std::vector<sim::TCameraConfig> cameras;
    if (demo) cameras = sim::DemoCameras(listen, basePort);
    for (const std::string& setting : cameraSettings) {
        sim::TCameraConfig c;
        std::string error;
        if (!ParseCamera(setting, listen, c, error)) {
            std::cerr << "ipcam-sim: " << error << "\n";
            return 2;
        }
        cameras.push_back(c);
    }
    bool build = root.empty();
    if (build) {
        try {
            root = TTools::GetTempDir() + "sim-firmware-" + std::to_string(getpid()) + "/";
        } catch (const std::exception& e) {
            std::cerr << "ipcam-sim: " << e.what() << "\n";
            return 1;
        }
        TTools::DeleteDir(root, true);
        TTools::ForceDir(root);
    }
    std::mutex out;
    auto log = [&](const std::string& line) {
        std::lock_guard g(out);
        std::cout << line << std::endl;
    };
    try {
        sim::TSimulation simulation(root, cameras, listen, firmwarePort, build, log, imageSize);
        {
            std::lock_guard g(out);
            std::cout << "firmware " << simulation.Firmware().BaseURL() << " root=" << root << "\n";
            for (auto& c : simulation.Cameras())
                std::cout << c->Describe() << "\n";
            std::cout << "ready" << std::endl;
        }
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        std::thread reader;
        if (useStdin) {
            reader = std::thread([] {
                std::string line;
                while (std::getline(std::cin, line)) {
                }
                gStop = true;
            });
            reader.detach();
        }
        auto start = std::chrono::steady_clock::now();
        while (!gStop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (seconds > 0 &&
                std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds))
                break;
        }
    } catch (const std::exception& e) {
        std::cerr << "ipcam-sim: " << e.what() << "\n";
        return 1;
    }
    if (build) TTools::DeleteDir(root, true);
    return 0;
}
