#include "OptionFile.h"

#include "lang/Lang.h"
#include "platform/Platform.h"
#include "transport/Tools.h"

#include <sys/stat.h>

#include <mutex>

namespace {

std::function<void(const std::string&)>& RaiseHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

std::string UserFolder() {
    std::string u = TTools::GetUserDataDir(TTools::CSIDL_APPDATA, true);
    return u.empty() ? TTools::GetAppPath() : u;
}

std::optional<TIniFile> DefaultLayer(const std::string& FileName) {
    std::string path = TTools::GetAppPath() + FileName;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return TIniFile(path);
}

} // namespace

TOptionFile::TOptionFile(const std::string& FileName)
    : FDefaultIni(DefaultLayer(FileName)), FUserIni(UserFolder() + FileName) {}

std::string TOptionFile::ReadOption(const std::string& Section, const std::string& Key,
                                    const std::string& Default) const {
    std::string fallback = FDefaultIni ? FDefaultIni->ReadString(Section, Key, Default) : Default;
    return FUserIni.ReadString(Section, Key, fallback);
}

void TOptionFile::WriteOption(const std::string& Section, const std::string& Key, const std::string& Value) {
    FUserIni.WriteString(Section, Key, Value);
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
