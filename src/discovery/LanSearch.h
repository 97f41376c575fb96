// The search on a real network: the five listeners on their designed ports, the device-control
// library's search and the external library, feeding one TDeviceSearch. Everything the engine
// gets arrives through platform::Synchronize, so its owner's thread is the only one touching it.
#pragma once

#include "DeviceSearch.h"
#include "ExternalSearch.h"
#include "UdpListener.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>

class TLanSearch : public ISearchNetwork {
  public:
    TLanSearch();
    ~TLanSearch() override;
    TLanSearch(const TLanSearch&) = delete;
    TLanSearch& operator=(const TLanSearch&) = delete;

    // Activates the listeners with the first free port from 10001, 10000, 10002, 7999 and 6800.
    void Start();
    // Stops and joins everything that could still call into the engine; safe to call again.
    // Never from inside a hand-over.
    void Shutdown();
    // The first half of Shutdown, which returns at once: nothing new reaches the engine afterwards
    // (a change under way ends), its rows stay. Engine().Rows() then gives the final list without
    // waiting for any receiver or hand-over.
    void StopReceiving();
    TDeviceSearch& Engine() { return FEngine; }
    int ListenerPort(int n) const { return FListeners[static_cast<size_t>(n - 1)].Port(); }

    // Loads the external search library (909/ beside the program); false when it is not there.
    bool LoadExternal(const std::string& path = TFind_Hisi::LibraryPath());
    // The last LoadExternal had no absolute path to load from (the program's folder unknown).
    bool ExternalUnknown() const { return FExternal && FExternal->PathUnknown(); }

    IDatagramPort& Listener(int n) override { return FListeners[static_cast<size_t>(n - 1)]; }
    void SearchLibrary() override;
    void StartExternal() override;

  private:
    std::array<TUdpListener, 5> FListeners;
    TDeviceSearch FEngine;
    std::unique_ptr<TFind_Hisi> FExternal;
    std::atomic<bool> FDown{false};
    bool FCleared = false;
};
