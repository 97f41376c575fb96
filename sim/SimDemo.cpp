#include "SimDemo.h"

#include <cstdlib>

namespace sim {

std::string DemoAddressFor(const std::string& address) {
    // 127.0.0.1 -> 127.0.0.3: another loopback address beside the others.
    size_t dot = address.rfind('.');
    int last = std::atoi(address.c_str() + dot + 1);
    return address.substr(0, dot + 1) + std::to_string(last == 3 ? 4 : 3);
}

std::vector<TCameraConfig> DemoCameras(const std::string& address, int basePort) {
    std::vector<TCameraConfig> out;
    struct TSeed {
        TSeries Series;
        const char *Sys, *App, *OEM, *Model;
    } seeds[] = {
        {TSeries::E, "47.2.3.18", "1.5.2.3", "OEME", ""},
        {TSeries::F, "48.2.0.10", "2.4.8.6", "OEMF", ""},
        {TSeries::H, "48.3.1.7", "3.1.2.5", "OEMH", "H264CAM"},
        {TSeries::T, "48.2.0.99", "4.0.1.2", "OEMT", "T100"},
        {TSeries::C, "48.1.65.3", "5.2.0.9", "OEMC", ""},
    };
    int i = 0;
    for (const TSeed& s : seeds) {
        TCameraConfig c;
        c.Series = s.Series;
        // A T camera takes uploads on the fixed port 8600 of its address: each gets an address of its own.
        c.Address = s.Series == TSeries::T ? DemoAddressFor(address) : address;
        c.Port = basePort ? basePort + i : 0;
        c.SysVersion = s.Sys;
        c.AppVersion = s.App;
        c.OEM = s.OEM;
        c.Model = s.Model;
        out.push_back(c);
        ++i;
    }
    return out;
}

std::vector<TCameraConfig> ManyCameras(const std::string& address, int n) {
    std::vector<TCameraConfig> seeds = DemoCameras(address, 0), out;
    for (int i = 0; i < n; ++i) {
        TCameraConfig c = seeds[static_cast<size_t>(i) % seeds.size()];
        int k = i / static_cast<int>(seeds.size());
        if (c.Series == TSeries::T)
            c.Address = "127.77." + std::to_string(k / 250) + "." + std::to_string(k % 250 + 1);
        if (c.Series == TSeries::E)
            c.Address = "127.78." + std::to_string(k / 250) + "." + std::to_string(k % 250 + 1);
        out.push_back(c);
    }
    return out;
}

TSimulation::TSimulation(const std::string& root, std::vector<TCameraConfig> cameras,
                         const std::string& address, int firmwarePort, bool buildTree, TRequestLog log,
                         uint64_t imageSize) {
    if (buildTree) BuildFirmwareTree(root, cameras, imageSize);
    FFirmware = std::make_unique<TFirmwareServer>(root, address, firmwarePort, log);
    for (auto& c : cameras)
        FCameras.push_back(std::make_unique<TSimCamera>(c, log));
}

TSimulation::~TSimulation() {
    FCameras.clear();
    if (FFirmware) FFirmware->Stop();
}

TSimCamera* TSimulation::Find(TSeries series) {
    for (auto& c : FCameras)
        if (c->Config().Series == series) return c.get();
    return nullptr;
}

} // namespace sim
