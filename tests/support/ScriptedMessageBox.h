// The message-box seam of the platform layer, scripted: tests see every box and give the answers.
#pragma once

#include "platform/Platform.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// A message-box stand-in for tests: records every box and answers from a queue (IDOK/IDNO by
// default when the queue is empty). Installs itself while it lives.
class TScriptedMessageBox {
  public:
    struct TShown {
        std::string Text, Caption;
        int Flags;
    };
    TScriptedMessageBox();
    ~TScriptedMessageBox();
    TScriptedMessageBox(const TScriptedMessageBox&) = delete;
    TScriptedMessageBox& operator=(const TScriptedMessageBox&) = delete;

    void Answer(int result);
    std::vector<TShown> Shown() const;

  private:
    int Show(const std::string& text, const std::string& caption, int flags);
    mutable std::mutex FLock;
    std::deque<int> FAnswers;
    std::vector<TShown> FShown;
};

} // namespace testsupport
