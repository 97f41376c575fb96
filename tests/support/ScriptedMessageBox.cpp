#include "ScriptedMessageBox.h"

namespace testsupport {

TScriptedMessageBox::TScriptedMessageBox() {
    platform::SetMessageBoxHook(
        [this](const std::string& t, const std::string& c, int f) { return Show(t, c, f); });
}

TScriptedMessageBox::~TScriptedMessageBox() {
    platform::SetMessageBoxHook(nullptr);
}

void TScriptedMessageBox::Answer(int result) {
    std::lock_guard g(FLock);
    FAnswers.push_back(result);
}

std::vector<TScriptedMessageBox::TShown> TScriptedMessageBox::Shown() const {
    std::lock_guard g(FLock);
    return FShown;
}

int TScriptedMessageBox::Show(const std::string& text, const std::string& caption, int flags) {
    std::lock_guard g(FLock);
    FShown.push_back({text, caption, flags});
    if (!FAnswers.empty()) {
        int r = FAnswers.front();
        FAnswers.pop_front();
        return r;
    }
    return (flags & 0xF) == platform::MB_YESNO ? platform::IDNO : platform::IDOK;
}

} // namespace testsupport
