#include "SimFirmware.h"

#include "SimPk2.h"
#include "SimZip.h"
#include "lang/IniFile.h"
#include "transport/CameraGet.h"
#include "upgrade/ESeries.h"
#include "upgrade/PackageFiles.h"
#include "upgrade/UpgradeObject.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace sim {

TFirmwareServer::TFirmwareServer(std::string root, const std::string& address, int port, TRequestLog log)
    : FRoot(std::move(root)), FLog(std::move(log)), FServer(LoopbackOnly(address), port) {
    if (!FRoot.empty() && FRoot.back() != '/') FRoot += '/';
    FServer.OnHttp([this](const THttpRequest& r, TConnection& c) { Handle(r, c); });
}

std::string TFirmwareServer::BaseURL() const {
    return "http://" + FServer.Address() + ":" + std::to_string(FServer.Port()) + "/FM/";
}

void TFirmwareServer::Handle(const THttpRequest& r, TConnection& c) {
    ++FRequests;
    const std::string prefix = "/FM/";
    // Folder and package names arrive percent-encoded.
    std::string path = PercentDecode(r.Path);
    struct stat st {};
    bool ok = r.Method == "GET" && path.compare(0, prefix.size(), prefix) == 0 &&
              path.find("..") == std::string::npos &&
              stat((FRoot + path.substr(prefix.size())).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (FLog) FLog("firmware " + r.Method + " " + r.Target + (ok ? " 200" : " 404"));
    if (!ok) {
        c.Send(HttpResponse(404, "<html>404 Not Found</html>"));
        return;
    }
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(st.st_size) +
           "\r\nConnection: close\r\n\r\n");
    c.SendFile(FRoot + path.substr(prefix.size()));
}

std::string SectionFor(const TCameraConfig& camera, TKind kind) {
    // E system objects mask the third part of the version; H and E UI objects read the model
    // from "/appver.js" and use it whole; F objects never set one.
    if (camera.Series == TSeries::E && kind == TKind::System) return ESectionName(camera.SysVersion);
    bool readsModel = camera.Series == TSeries::H || camera.Series == TSeries::T ||
                      camera.Series == TSeries::C || (camera.Series == TSeries::E && kind == TKind::UI);
    if (readsModel && !camera.Model.empty()) return camera.Model;
    return CopyBeforeLast(".", kind == TKind::System ? camera.SysVersion : camera.AppVersion);
}

std::string ServerFolderFor(const TCameraConfig& camera, TKind kind) {
    return kind == TKind::System ? "system" : LowerCase(camera.OEM);
}

void BuildFirmwareTree(const std::string& root, const std::vector<TCameraConfig>& cameras,
                       uint64_t imageSize) {
    std::string base = root.back() == '/' ? root : root + "/";
    std::map<std::string, std::vector<std::string>> written; // folder -> sections already listed
    for (const TCameraConfig& cam : cameras) {
        for (TKind kind : {TKind::System, TKind::UI}) {
            std::string folder = ServerFolderFor(cam, kind);
            std::string section = SectionFor(cam, kind);
            if (section.empty()) continue;
            auto& sections = written[folder];
            bool known = false;
            for (const auto& s : sections)
                known = known || LowerCase(s) == LowerCase(section);
            if (known) continue;
            sections.push_back(section);
            std::string dir = base + folder + "/";
            if (!TTools::ForceDir(dir)) throw std::runtime_error("cannot create " + dir);
            bool e = cam.Series == TSeries::E;
            // The E system object compares the third parts only: that is the part a newer one raises.
            std::string version = e && kind == TKind::System
                                      ? NextVersion(cam.SysVersion, 2)
                                      : NextVersion(kind == TKind::System ? cam.SysVersion : cam.AppVersion);
            std::string name =
                std::string(SeriesName(cam.Series)) + (kind == TKind::System ? "-sys-" : "-ui-") + version;
            std::string image = dir + name + ".bin";
            WriteImageFile(image, kind, version, imageSize);
            if (e) {
                // E packages carry a ".pk2" whose first record is the image.
                std::ifstream in(image, std::ios::binary);
                std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                WritePk2(dir + name + ".pk2", ImagePackage(name + ".img", bytes));
                WriteZipFromFile(dir + name + ".zip", name + ".pk2", dir + name + ".pk2");
                unlink((dir + name + ".pk2").c_str());
            } else {
                WriteZipFromFile(dir + name + ".zip", name + ".bin", image);
            }
            unlink(image.c_str());
            TIniFile list(dir + "firmware.txt");
            bool sys = kind == TKind::System;
            bool ok = list.WriteString(section, sys ? "SysVer" : "AppVer", version) &&
                      list.WriteString(section, "MD5", TUpgradeOpt::FileMD5(dir + name + ".zip")) &&
                      list.WriteString(section, "NO", "") &&
                      list.WriteString(section, sys ? "SysFile" : "AppFile", name + ".zip");
            if (!ok) throw std::runtime_error("cannot write " + dir + "firmware.txt");
        }
    }
}

} // namespace sim
