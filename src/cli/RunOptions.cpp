#include "RunOptions.h"

#include "base/Files.h"
#include "platform/Platform.h"
#include "upgrade/ImageCache.h"
#include "upgrade/PackageFiles.h"
#include "upgrade/UpgradeObject.h"

#include <CLI/CLI.hpp>

#include <cstdlib>

TRunOptionFlags::TRunOptionFlags(CLI::App& c, TCliRunOptions& o) {
    c.add_option("--firmware", o.Firmware, "system, ui, or both (system, then UI after 1 s)")
        ->check(CLI::IsMember({"system", "ui", "both"}))
        ->capture_default_str();
    auto* y = c.add_flag("-y,--yes", FYes, "upgrade even when the camera already runs the newest version");
    auto* n = c.add_flag("--no", FNo, "do not upgrade a camera that already runs the newest version");
    y->excludes(n);
    c.add_flag("--reinstall", FReinstall,
               "flash the offered firmware even when the camera runs it already (the same as --yes)")
        ->excludes(n);
    c.add_option("--lang", o.Lang,
                 "language code of the texts (en, jp, ...); default from option.ini or the locale");
    c.add_option("--firmware-server", o.FirmwareServer,
                 "firmware server: a base URL (http://127.0.0.1:8080/FM/, https://...) or a local folder");
    c.add_option("--cacert", o.CaFile, "PEM file of the certificate authority of an https firmware server")
        ->check(CLI::ExistingFile);
    c.add_flag("-j,--json", o.Json, "one JSON object per session on standard output instead of the log");
    c.add_flag("--check", o.Check, "compare the versions only: nothing is downloaded or uploaded");
    c.add_option(
        "--package", o.Package,
        "upgrade with this file (a ZIP as the server serves it, an image or a .pk2) instead of the server's");
    c.add_option("--md5", o.MD5, "MD5 the --package file must have (32 hexadecimal digits)");
    c.add_option("--sha256", o.SHA256, "SHA-256 the --package file must have (64 hexadecimal digits)");
    c.add_option("--cache-dir", o.CacheDir, "folder of the verified images kept for later sessions");
}

void TRunOptionFlags::Apply(TCliRunOptions& o) const {
    o.Answer = FYes || FReinstall ? platform::IDYES : FNo ? platform::IDNO : 0;
}

bool RunOptionsUsable(const TCliRunOptions& o, std::string& error) {
    if (!o.Package.empty() && o.Firmware == "both")
        error = "--package needs --firmware system or --firmware ui: a file holds one kind of firmware";
    else if (!o.Package.empty() && o.Check)
        error = "--check compares with the firmware server; it does not go with --package";
    else if (!o.Package.empty() && !FileExists(o.Package))
        error = "--package " + o.Package + ": no such file";
    else if (o.Package.empty() && (!o.MD5.empty() || !o.SHA256.empty()))
        error = "--md5 and --sha256 check a --package file";
    else if (!o.MD5.empty() && !TUpgradeOpt::IsHexDigest(o.MD5, 32))
        error = "--md5 takes 32 hexadecimal digits";
    else if (!o.SHA256.empty() && !TUpgradeOpt::IsHexDigest(o.SHA256, 64))
        error = "--sha256 takes 64 hexadecimal digits";
    return error.empty();
}

TSessionSettings SettingsFor(const TCliRunOptions& o, const TStartup& startup) {
    imagecache::SetCacheDir(o.CacheDir);
    TSessionSettings s;
    // A folder is taken from where the command was given, before anything changes the working folder.
    s.Request.FirmwareServer = FirmwareServerURL(startup.FirmwareServer(o.FirmwareServer));
    s.Request.CaFile = o.CaFile;
    s.Request.CheckOnly = o.Check;
    s.Request.Package = o.Package;
    s.Request.PackageMD5 = o.MD5;
    s.Request.PackageSHA256 = o.SHA256;
    return s;
}

bool PasswordFromOutside(const std::string& passwordFile, std::string& password, std::string& error) {
    if (!passwordFile.empty()) return ReadPasswordFile(passwordFile, password, error);
    if (const char* env = std::getenv("IPCAM_PASSWORD")) password = env;
    return true;
}
