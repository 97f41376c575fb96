// What every subcommand of the command line shares: the time stamp of the log, message boxes
// on the terminal, and the program's start-up without a window.
#pragma once

#include "app/Startup.h"
#include "app/UpgradeThread.h"
#include "base/Progress.h"

#include <cstddef>
#include <functional>
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

// -1 quiet (failures only), 0 normal, 1 and 2 verbose; set once after the options are read.
int CliVerbosity();
void SetCliVerbosity(int level);

// Whether a firmware server is set anywhere: given on the command line, IPCAM_FIRMWARE_SERVER
// or [Global] FirmwareServer in option.ini. When none is, error tells how to set one.
bool FirmwareServerConfigured(const std::string& given, std::string& error);

// each(0) to each(count - 1), at most jobs at once (the calling thread is one of them); returns
// when all have run. Fewer run at once when no more threads can be made, never fewer in all.
void InParallel(size_t count, size_t jobs, const std::function<void(size_t)>& each);

// The start-up of the desktop tool, held for one subcommand, with the terminal's message boxes.
class TCliEnvironment {
  public:
    // A requested language that has no language file is refused with the list of those that
    // have: Refused() tells, after the reason was printed on standard error.
    TCliEnvironment(int answer, const std::string& lang);
    ~TCliEnvironment();
    bool Refused() const { return FRefused; }
    const TStartup& Startup() const { return *FStartup; }
    TCliEnvironment(const TCliEnvironment&) = delete;
    TCliEnvironment& operator=(const TCliEnvironment&) = delete;

  private:
    // Released before the message box hook goes: what it releases may still show a box.
    std::unique_ptr<TStartup> FStartup;
    bool FRefused = false;
};
