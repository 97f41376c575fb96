// The platform services of the desktop tool: hand-overs to the UI thread, message boxes on it,
// and the busy cursor. Installed once the application object exists.
#pragma once

#include <functional>
#include <string>

namespace gui {

// Message boxes too unless boxes is false (tests script them through the platform seam).
void InstallPlatformHooks(bool boxes = true);
void RemovePlatformHooks();

// Tests script message boxes through this seam: when set, it answers instead of a real box.
using TBoxAnswer = std::function<int(const std::string& text, const std::string& caption, int flags)>;
void SetBoxAnswer(TBoxAnswer answer);

} // namespace gui
