#include "MirrorCommand.h"

#include "CliCommon.h"
#include "base/Files.h"
#include "base/Text.h"
#include "lang/IniFile.h"
#include "platform/Platform.h"
#include "transport/HttpClient.h"
#include "upgrade/PackageFiles.h"
#include "upgrade/UpgradeObject.h"

#include <CLI/CLI.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <set>

namespace {

class TMirror {
  public:
    TMirror(const TCliMirrorOptions& o, const TStartup& startup, std::ostream& out)
        : FBase(FirmwareServerBase(startup.FirmwareServer(o.FirmwareServer))), FCaFile(o.CaFile), FOut(out) {
        FTo = o.To.back() == '/' ? o.To : o.To + "/";
    }

    // The target folder itself: refused before anything is fetched.
    bool Usable() {
        std::string why;
        return IsTrustedFolder(FTo, why) || Fail(FTo, why);
    }

    bool Folder(const std::string& folder) {
        try {
            return FolderFrom(folder);
        } catch (const std::exception& e) {
            return Fail(folder, e.what());
        }
    }

  private:
    bool FolderFrom(const std::string& folder) {
        std::string dir = FTo + folder + "/", why;
        if (!ForceDir(dir)) return Fail(folder, "cannot create " + dir);
        // Whoever could change the folder could send every package elsewhere, or swap one.
        if (!IsTrustedFolder(dir, why)) return Fail(dir, why);
        std::string list = dir + ".firmware.txt.part";
        std::string url = FBase + http::PercentEncodePath(folder) + "/";
        if (!TUpgradeOpt::DownloadFile(url + "firmware.txt", list, TUpgradeOpt::MaxListSize, FCaFile)) {
            unlink(list.c_str());
            return Fail(folder + "/firmware.txt", "not downloaded");
        }
        TIniFile ini(list);
        bool ok = true;
        std::set<std::string> done;
        for (const std::string& section : ini.ReadSections())
            for (const char* key : {"SysFile", "AppFile"}) {
                std::string name = TrimText(ini.ReadString(section, key, ""));
                if (name.empty() || !done.insert(LowerCase(name)).second) continue;
                try {
                    ok = Package(folder, dir, url, name, TrimText(ini.ReadString(section, "MD5", "")),
                                 TrimText(ini.ReadString(section, "SHA256", ""))) &&
                         ok;
                } catch (const std::exception& e) {
                    ok = Fail(folder + "/" + EscapeControls(name), e.what());
                }
            }
        // The list comes last: the mirror never names a package it does not hold.
        if (rename(list.c_str(), (dir + "firmware.txt").c_str()) != 0) return Fail(folder, "list not kept");
        FOut << folder << "/firmware.txt: " << ini.ReadSections().size() << " sections" << std::endl;
        return ok;
    }

    bool Package(const std::string& folder, const std::string& dir, const std::string& url,
                 const std::string& name, const std::string& md5, const std::string& sha256) {
        std::string shown = folder + "/" + EscapeControls(name);
        if (!IsSafePackageName(name)) return Fail(shown, "a package name that cannot be a file name");
        std::string target = dir + name;
        auto matches = [&](const std::string& file) {
            return TUpgradeOpt::CheckMD5(file, md5) &&
                   (sha256.empty() || TUpgradeOpt::CheckSHA256(file, sha256));
        };
        if (IsPlainFile(target) && matches(target)) {
            if (CliVerbosity() >= 0) FOut << shown << ": already here" << std::endl;
            return true;
        }
        std::string part = dir + "." + name + ".part";
        bool ok = TUpgradeOpt::DownloadFile(url + http::PercentEncodePath(name), part,
                                            TUpgradeOpt::MaxPackageSize, FCaFile);
        if (!ok || !matches(part)) {
            unlink(part.c_str());
            return Fail(shown, ok ? "does not match the digests of the list" : "not downloaded");
        }
        if (rename(part.c_str(), target.c_str()) != 0) return Fail(shown, "not kept");
        if (CliVerbosity() >= 0) FOut << shown << ": copied" << std::endl;
        return true;
    }

    bool Fail(const std::string& what, const std::string& why) {
        std::cerr << "ipcam-upgrade-cli: " << what << ": " << why << std::endl;
        return false;
    }

    std::string FBase, FCaFile, FTo;
    std::ostream& FOut;
};

} // namespace

int RunMirror(const TCliMirrorOptions& o, std::ostream& out) {
    if (o.To.empty()) {
        std::cerr << "ipcam-upgrade-cli: mirror needs --to DIR" << std::endl;
        return 2;
    }
    for (const std::string& f : o.Folders)
        if (!IsSafePackageName(LowerCase(TrimText(f)))) {
            std::cerr << "ipcam-upgrade-cli: \"" << EscapeControls(f) << "\" is no folder name" << std::endl;
            return 2;
        }
    std::string error;
    if (!FirmwareServerConfigured(o.FirmwareServer, error)) {
        std::cerr << "ipcam-upgrade-cli: " << error << std::endl;
        return 2;
    }
    TCliEnvironment environment(platform::IDNO, "");
    TMirror mirror(o, environment.Startup(), out);
    ForceDir(o.To);
    if (!mirror.Usable()) return 1;
    bool ok = true;
    for (const std::string& f : o.Folders)
        ok = mirror.Folder(LowerCase(TrimText(f))) && ok;
    return ok ? 0 : 1;
}

TMirrorCommand::TMirrorCommand(CLI::App& app) {
    FCommand = app.add_subcommand("mirror", "copy firmware lists and packages into a folder that serves as a "
                                            "local firmware server");
    FCommand->add_option("--to", FOptions.To, "the folder to copy into")->required();
    FCommand->add_option("--folders", FOptions.Folders, "server folders to copy: system and OEM names")
        ->delimiter(',')
        ->capture_default_str();
    FCommand->add_option("--firmware-server", FOptions.FirmwareServer, "the firmware server to copy from");
    FCommand
        ->add_option("--cacert", FOptions.CaFile, "PEM file of the certificate authority of an https server")
        ->check(CLI::ExistingFile);
}

bool TMirrorCommand::Parsed() const {
    return FCommand->parsed();
}

int TMirrorCommand::Run() {
    return RunMirror(FOptions, std::cout);
}
