// ipcam-sim: simulated cameras and a firmware server on loopback, for trying the tools without
// hardware. Stops on SIGINT or SIGTERM, at the end of standard input with --stdin, or after
// --seconds.
#include "SimDemo.h"
#include "SimOnvif.h"
#include "SimOptions.h"
#include "SimPk2.h"
#include "SimWsd.h"
#include "platform/Platform.h"
#include "transport/CameraGet.h"

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

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated IP cameras and a firmware server, on loopback only."};
    app.set_version_flag("--version", "ipcam-sim " IPCAM_VERSION);
    bool demo = false, useStdin = false;
    std::string listen = "127.0.0.1", root;
    int firmwarePort = 0, basePort = 0;
    double seconds = 0;
    std::vector<std::string> cameraSettings;
    uint64_t imageSize = 64 * 1024;
    app.add_flag("--demo", demo, "one camera of every series and a matching firmware tree");
    int many = 0;
    app.add_option("--cameras", many, "this many cameras of the demo's series in turn, each on its own port")
        ->check(CLI::Range(0, 1000));
    app.add_option("--listen", listen, "loopback address to serve on")->capture_default_str();
    app.add_option("--firmware-root", root, "folder to serve below /FM/ (the demo builds one when empty)");
    app.add_option("--firmware-port", firmwarePort, "port of the firmware server (0: any free one)");
    app.add_option("--base-port", basePort, "first camera port of the demo (0: any free ones)");
    app.add_option(
        "--camera", cameraSettings,
        "a camera: series=E|F|H|T|C,address=,port=,user=,password=,sys=,app=,oem=,model=,reboot-ms=,fault=; "
        "or "
        "series=onvif,address=,port=,user=,password=,manufacturer=,model=,version=,mac=,reboot-ms=,delay-ms=,"
        "auth=digest|token,fault=no-upgrade|legacy-only|wrong-password|upload-refused|reboot-forever|"
        "reboot-old-version|slow-clock");
    app.add_option("--image-size", imageSize, "size of the demo's images in bytes")->capture_default_str();
    app.add_option("--seconds", seconds, "stop after this many seconds (0: run until stopped)");
    app.add_flag("--stdin", useStdin, "stop when standard input ends");
    bool discovery = false;
    app.add_flag("--discovery", discovery, "the first standard (onvif) camera answers WS-Discovery too");
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
    for (const sim::TCameraConfig& c : sim::ManyCameras(listen, many))
        cameras.push_back(c);
    std::vector<sim::TOnvifConfig> standards;
    // The demo's standard camera is found by WS-Discovery and upgraded through ONVIF.
    if (demo) {
        sim::TOnvifConfig o;
        o.Address = listen;
        o.Port = basePort ? basePort + 5 : 0;
        standards.push_back(o);
    }
    for (const std::string& setting : cameraSettings) {
        sim::TCameraConfig c;
        std::string error;
        if (sim::IsOnvifSetting(setting)) {
            sim::TOnvifConfig o;
            if (!sim::ParseOnvifSetting(setting, listen, o, error)) {
                std::cerr << "ipcam-sim: " << error << "\n";
                return 2;
            }
            standards.push_back(o);
            continue;
        }
        if (!sim::ParseCameraSetting(setting, listen, c, error)) {
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
        if (build) sim::BuildOnvifFirmware(root, standards, imageSize);
        sim::TSimulation simulation(root, cameras, listen, firmwarePort, build, log, imageSize);
        std::vector<std::unique_ptr<sim::TOnvifCamera>> onvifCameras;
        for (const sim::TOnvifConfig& o : standards)
            onvifCameras.push_back(std::make_unique<sim::TOnvifCamera>(o, log));
        // The demo's standard camera answers WS-Discovery with its device service.
        std::unique_ptr<sim::TWsdCamera> standard;
        if ((demo || discovery) && !onvifCameras.empty())
            standard =
                std::make_unique<sim::TWsdCamera>(listen, onvifCameras.front()->Port(), "Standard Camera",
                                                  "5e1b7a4c-1111-4222-8333-944455566677");
        {
            std::lock_guard g(out);
            std::cout << "firmware " << simulation.Firmware().BaseURL() << " root=" << root << "\n";
            for (auto& c : simulation.Cameras())
                std::cout << c->Describe() << "\n";
            for (auto& o : onvifCameras)
                std::cout << o->Describe() << "\n";
            if (standard) std::cout << standard->Describe() << "\n";
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
