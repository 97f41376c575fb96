// ipcam-upgrade-cli batch: many cameras at once, from a CSV list or a LAN search, with one
// report for all of them.
#pragma once

#include "RunOptions.h"

#include <atomic>
#include <iosfwd>
#include <memory>
#include <string>

namespace CLI {
class App;
}

struct TCliBatchOptions : TCliRunOptions {
    std::string CamerasFile; // "-" for standard input
    bool FromSearch = false;
    std::string Series = "E,F,H,T,C,ONVIF"; // of the cameras a search finds
    int Rounds = 3;
    int MaxCameras = 256; // sessions a search may start at most
    bool External = true;
    int Jobs = 4;
    std::string User = "admin";
    std::string Password = "530274"; // for cameras whose row has none
};

// Runs the sessions, jobs at a time; a set stop starts no more of them and lets the running
// ones end (an upload that has begun is never cut short). 0 when every session ended well,
// 1 when one did not, 2 for a usage error. The camera list is read from in when its file is "-".
int RunBatch(const TCliBatchOptions& options, std::istream& in, std::ostream& out,
             const std::atomic<bool>* stop = nullptr);

class TBatchCommand {
  public:
    explicit TBatchCommand(CLI::App& app);
    bool Parsed() const;
    int Run();

  private:
    CLI::App* FCommand;
    TCliBatchOptions FOptions;
    std::string FPasswordFile;
    bool FNoExternal = false;
    std::unique_ptr<TRunOptionFlags> FFlags;
};
