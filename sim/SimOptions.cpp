#include "SimOptions.h"

#include <stdexcept>

namespace sim {

namespace {

// The number of a message of the upload connection: digits only.
int MessageNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument("message number");
    return std::stoi(text);
}

} // namespace

std::vector<TSettingItem> SettingItems(const std::string& setting) {
    std::vector<TSettingItem> items;
    size_t pos = 0;
    while (pos <= setting.size()) {
        size_t comma = setting.find(',', pos);
        std::string item = setting.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? setting.size() + 1 : comma + 1;
        if (item.empty()) continue;
        size_t eq = item.find('=');
        items.push_back({item, item.substr(0, eq), eq == std::string::npos ? "" : item.substr(eq + 1)});
    }
    return items;
}

bool ParseCameraSetting(const std::string& setting, const std::string& address, TCameraConfig& c,
                        std::string& error) {
    c.Address = address;
    for (const auto& [item, k, v] : SettingItems(setting)) {
        try {
            if (k == "series") {
                if (!ParseSeries(v, c.Series)) throw std::invalid_argument("series");
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
                else if (v == "reboot-old-version")
                    c.Faults.RebootOldVersion = true;
                else if (v == "ctp-login-refused")
                    c.Faults.CtpLoginRefused = true;
                else if (v == "search-silent")
                    c.Faults.SearchSilent = true;
                else if (v == "search-truncated")
                    c.Faults.SearchTruncated = true;
                else if (v == "search-oversized")
                    c.Faults.SearchOversized = true;
                else if (v == "search-malformed")
                    c.Faults.SearchMalformed = true;
                else if (v == "search-flood")
                    c.Faults.SearchFlood = true;
                else if (v == "ctp-continue")
                    c.Faults.CtpContinue = true;
                else if (v.rfind("ctp-refuse-", 0) == 0)
                    c.Faults.CtpRefuseMessage = MessageNumber(v.substr(11));
                else if (v.rfind("ctp-close-", 0) == 0)
                    c.Faults.CtpCloseAtMessage = MessageNumber(v.substr(10));
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

} // namespace sim
