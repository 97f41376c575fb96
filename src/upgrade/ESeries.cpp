#include "ESeries.h"

#include "transport/CameraGet.h"
#include "transport/CtpSession.h"

namespace {

std::string PackageImageName(const std::string& firmwareFile) {
    std::string f = TrimText(firmwareFile);
    if (f.size() >= 4) f.resize(f.size() - 4);
    return f + ".pk2";
}

TStringList Parts(const std::string& v) {
    TStringList parts;
    TTools::SplitText(v, ".", parts);
    return parts;
}

} // namespace

std::string ESectionName(const std::string& Version) {
    TStringList p = Parts(Version);
    if (p.size() < 4) return {};
    return p[0] + "." + p[1] + ".X." + p[3];
}

bool ESameVersion(const std::string& A, const std::string& B) {
    TStringList a = Parts(A), b = Parts(B);
    if (a.size() < 3 || b.size() < 3) return false;
    return TrimText(a[2]) == TrimText(b[2]);
}

std::string TESYSUpgrade::GetImageFileName() {
    return PackageImageName(FFirmwareFile);
}
std::string TEUIUpgrade::GetImageFileName() {
    return PackageImageName(FFirmwareFile);
}

bool TESYSUpgrade::ReadCurrentVersion() {
    try {
        std::string v;
        // A camera whose CTP port cannot be reached has no version to report.
        if (!QueryCtpVersion(FIP, FPort, v)) return false;
        FCurVersion = v;
        return !FCurVersion.empty();
    } catch (const ECtpError&) {
        return false;
    }
}

bool TESYSUpgrade::DoUpgrade(std::string& Message) {
    return CtpUpgrade(FImagePath, FIP, FPort, FUser, FPassword, Message);
}

bool TEUIUpgrade::DoUpgrade(std::string& Message) {
    return CtpUpgrade(FImagePath, FIP, FPort, FUser, FPassword, Message);
}
