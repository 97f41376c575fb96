// The search through the external client library in "909/" beside the program: loaded at run
// time, searched on the Find button, its finds handed on as records of type 4.
#pragma once

#include "base/DevInfo.h"

#include <atomic>
#include <functional>
#include <string>

class TFind_Hisi {
  public:
    using TNotify = std::function<void(const TDevInfo& record)>;

    // Loads GetAppPath + "909/DVSNETClient.so" (or path); a failed load is not reported, and
    // every later operation then does nothing. Only an absolute path is loaded: a relative one
    // would be looked up from the working folder, where anyone may have planted a library.
    TFind_Hisi();
    explicit TFind_Hisi(const std::string& path);
    // Stops the library's search (it returns only when no callback runs or can start), then unloads.
    ~TFind_Hisi();
    TFind_Hisi(const TFind_Hisi&) = delete;
    TFind_Hisi& operator=(const TFind_Hisi&) = delete;

    bool Loaded() const { return FModule != nullptr; }
    // The path was not absolute (the program's folder unknown): nothing was loaded.
    bool PathUnknown() const { return FPathUnknown; }
    void SetNotification(TNotify notify) { FNotify = std::move(notify); }
    bool Search();
    // The library in the program's folder exeDir; empty when that folder is unknown.
    static std::string LibraryPath(const std::string& exeDir);
    static std::string LibraryPath();

  private:
    static void Found(intptr_t, const char* name, intptr_t, const char* ip, const unsigned char* mac6,
                      intptr_t port, intptr_t port2, const char* mask, const char* gateway,
                      const char* auxText, const char* dns, intptr_t auxWord, intptr_t auxValue,
                      intptr_t dhcp, void* context);
    void* FModule = nullptr;
    bool FPathUnknown = false;
    TNotify FNotify;
    std::atomic<bool> FLive{true};
};
