#include "UpgradeInput.h"

#include "base/Text.h"

#include <cstdint>

int PortNumber(const std::string& text) {
    std::string t = TrimText(text);
    if (t.empty()) return 0;
    size_t i = t[0] == '-' || t[0] == '+' ? 1 : 0;
    if (i == t.size() || t.find_first_not_of("0123456789", i) != std::string::npos || t.size() > 11) return 0;
    long long v = std::stoll(t);
    return v < INT32_MIN || v > INT32_MAX ? 0 : static_cast<int>(v);
}

const char* FailedInputCheck(int series, const std::string& user, const std::string& ip, int port) {
    if (series < 0) return "IDS_NOIPCTYPE";
    if (TrimText(user).empty()) return "IDS_NOLOGINUSER";
    if (TrimText(ip).empty()) return "IDS_NOIPADDR";
    if (port == 0) return "IDS_NOPORT";
    return nullptr;
}
