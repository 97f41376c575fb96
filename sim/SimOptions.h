// The simulator's command-line settings, as a unit that tests can call.
#pragma once

#include "SimCamera.h"

#include <string>
#include <vector>

namespace sim {

// The items of a "key=value,key=value" setting, empty items skipped; a key without "=" has an
// empty value.
struct TSettingItem {
    std::string Item, Key, Value;
};
std::vector<TSettingItem> SettingItems(const std::string& setting);

// One --camera setting: comma-separated key=value items (series, address, port, user, password,
// sys, app, oem, model, reboot-ms, and fault= once or more: upload-hang, upload-401, upload-302,
// upload-500, close-mid-upload, reboot-forever, reboot-old-version, ctp-login-refused, ctp-continue,
// ctp-refuse-N, ctp-close-N, search-silent, search-truncated, search-oversized, search-malformed,
// search-flood, N counting the messages of the upload connection with the hello as 0). False with
// error set for an unknown key, fault or value.
bool ParseCameraSetting(const std::string& setting, const std::string& address, TCameraConfig& config,
                        std::string& error);

} // namespace sim
