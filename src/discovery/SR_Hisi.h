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
    // every later operation then does nothing.
    TFind_Hisi();
    explicit TFind_Hisi(const std::string& path);
    // Stops the library's search (it returns only when no callback runs or can start), then unloads.
    ~TFind_Hisi();
    TFind_Hisi(const TFind_Hisi&) = delete;
    TFind_Hisi& operator=(const TFind_Hisi&) = delete;

    bool Loaded() const { return FModule != nullptr; }
    void SetNotification(TNotify notify) { FNotify = std::move(notify); }
    bool Search();
    static std::string LibraryPath();

  private:
    static void Found(intptr_t, const char* name, intptr_t, const char* ip, const unsigned char* mac6,
                      intptr_t port, intptr_t port2, const char* mask, const char* gateway,
                      const char* auxText, const char* dns, intptr_t auxWord, intptr_t auxValue,
                      intptr_t dhcp, void* context);
    void* FModule = nullptr;
    TNotify FNotify;
    std::atomic<bool> FLive{true};
};
