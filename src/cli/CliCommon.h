// What every subcommand of the command line shares: the time stamp of the log, message boxes
// on the terminal, and the program's start-up without a window.
#pragma once

#include "app/UpgradeThread.h"
#include "base/Progress.h"

#include <memory>
#include <string>

// Message boxes of a program without a window: the text goes to standard error; a yes/no
// question is answered by answer (IDYES, IDNO), asked on a terminal when answer is 0, and
// otherwise answered no.
int ConsoleBox(const std::string& text, const std::string& caption, int flags, int answer);

// A progress bar on standard error when it is a terminal; null otherwise. ClearProgressLine
// takes a bar away before a log line is printed.
progress::TSink TerminalProgressBar();
void ClearProgressLine();

// What the desktop tool sets up before its window exists, held for one subcommand: the message
// box hook, the language store and the language, the device-control library object, and the
// option file's firmware server.
class TCliEnvironment {
  public:
    TCliEnvironment(int answer, const std::string& lang);
    ~TCliEnvironment();
    TCliEnvironment(const TCliEnvironment&) = delete;
    TCliEnvironment& operator=(const TCliEnvironment&) = delete;

  private:
    struct TState;
    std::unique_ptr<TState> FState;
};
