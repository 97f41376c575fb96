#include "OptionFile.h"

#include "base/Files.h"
#include "base/Text.h"
#include "lang/Lang.h"
#include "platform/Platform.h"
#include "transport/CameraGet.h"
#include "upgrade/ImageCache.h"

#include <sys/stat.h>

#include <mutex>

namespace {

std::function<void(const std::string&)>& RaiseHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

std::string UserFolder() {
    std::string u = UserOptionDir();
    if (!u.empty() && ForceDir(u)) return u;
    return TTools::GetAppPath();
}

std::optional<TIniFile> LayerIfPresent(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return TIniFile(path);
}

std::mutex& SystemDirLock() {
    static std::mutex m;
    return m;
}

std::string& SystemDir() {
    static std::string dir = "/etc/ipcam-upgrade/";
    return dir;
}

} // namespace

std::string UserOptionDir() {
    std::string base = platform::RoamingDataDir();
    return base.empty() ? base : base + "ipcam-upgrade/";
}

std::string SystemOptionDir() {
    std::lock_guard g(SystemDirLock());
    return SystemDir();
}

void SetSystemOptionDir(const std::string& dir) {
    std::lock_guard g(SystemDirLock());
    SystemDir() = dir.empty() || dir.back() == '/' ? dir : dir + "/";
}

TOptionFile::TOptionFile(const std::string& FileName)
    : FDefaultIni(LayerIfPresent(TTools::GetAppPath() + FileName)),
      FSystemIni(LayerIfPresent(SystemOptionDir() + FileName)), FUserIni(UserFolder() + FileName) {}

std::string TOptionFile::ReadOption(const std::string& Section, const std::string& Key,
                                    const std::string& Default) const {
    std::string fallback = FDefaultIni ? FDefaultIni->ReadString(Section, Key, Default) : Default;
    if (FSystemIni) fallback = FSystemIni->ReadString(Section, Key, fallback);
    return FUserIni.ReadString(Section, Key, fallback);
}

std::string StartLanguage(const TOptionFile& options) {
    std::string lan = options.ReadOption("Global", "lan", "");
    if (!lan.empty()) return lan;
    SetCurLang(DefaultLangFromCodePage());
    return FileExists(LangFilePath()) ? CurLang() : "en";
}

void TOptionFile::WriteOption(const std::string& Section, const std::string& Key, const std::string& Value) {
    FUserIni.WriteString(Section, Key, Value);
}

void ApplyCacheOptions(const TOptionFile& options) {
    imagecache::TLimits limits;
    auto number = [&](const char* key, uint64_t fallback) {
        std::string t = TrimText(options.ReadOption("Cache", key, ""));
        if (t.empty() || t.size() > 12 || t.find_first_not_of("0123456789") != std::string::npos)
            return fallback;
        return static_cast<uint64_t>(std::stoull(t));
    };
    limits.MaxImages = static_cast<size_t>(number("MaxImages", limits.MaxImages));
    limits.MaxBytes = number("MaxMegabytes", limits.MaxBytes >> 20) << 20;
    imagecache::SetLimits(limits);
    if (std::string dir = imagecache::CacheDir(); !dir.empty()) imagecache::Prune(dir, limits);
}

std::string DefaultLangFromCodePage(int codePage) {
    switch (codePage) {
    case 936:
        return "cn";
    case 950:
        return "b5";
    case 932:
        return "jp";
    case 863:
        return "fr";
    case 1145:
        return "spa";
    case 1144:
        return "Ita";
    default:
        return "en";
    }
}

std::string DefaultLangFromCodePage() {
    return DefaultLangFromCodePage(platform::OemCodePage());
}

std::string FormatLangText(const std::string& text, const std::string& argument) {
    std::string out;
    bool used = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            if (text[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (text[i + 1] == 's' && !used) {
                out += argument;
                used = true;
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool CheckSingleInstance(const std::string& Caption) {
    static platform::TInstanceGuard guard;
    static std::mutex lock;
    std::lock_guard g(lock);
    if (guard.Held()) return true;
    bool acquired = false;
    try {
        acquired = guard.TryAcquire(SingleInstanceName);
    } catch (const platform::TPlatformError&) {
        // An unsafe temporary folder was reported already; a guard that cannot be had does not
        // keep the program from running.
        return true;
    }
    if (acquired) return true;
    platform::MessageBox(FormatLangText(GetLangStr("IDS_RUNNED"), Caption), GetLangStr("IDS_WARNING"),
                         platform::MB_ICONWARNING);
    if (RaiseHook()) RaiseHook()(Caption);
    return false;
}

void SetRaiseRunningInstanceHook(std::function<void(const std::string& Caption)> hook) {
    RaiseHook() = std::move(hook);
}
