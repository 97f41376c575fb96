#include "LanSearch.h"

#include "NetHelpers.h"
#include "platform/Platform.h"
#include "transport/DeviceControlLibrary.h"

TLanSearch::TLanSearch() : FEngine(*this) {}

TLanSearch::~TLanSearch() {
    Shutdown();
}

void TLanSearch::Start() {
    static const int starts[5] = {10001, 10000, 10002, 7999, 6800};
    for (size_t i = 0; i < FListeners.size(); ++i) {
        FListeners[i].OnReceive = [this](const std::string& data, const std::string& ip, int port) {
            if (!FDown) FEngine.OnDatagram(data, ip, port);
        };
        // A listener that finds no free port stays inactive; its probes simply go nowhere.
        TTools_Net::BindFirstFreePort(FListeners[i], starts[i]);
    }
}

void TLanSearch::Shutdown() {
    StopReceiving();
    if (FCleared) return;
    FCleared = true;
    // Every receiver is woken first, then they are joined: no one waits for another's poll.
    for (TUdpListener& l : FListeners)
        l.Stop();
    if (auto z = ZoltSeries()) z->StopSearches();
    FExternal.reset(); // returns when no callback of the library runs or can start
    for (TUdpListener& l : FListeners)
        l.Join();
    FEngine.ClearDeviceList();
}

void TLanSearch::StopReceiving() {
    // Datagrams that arrive or still wait for their hand-over now came after the search's last
    // wait: they are dropped, not handed over, so that the list is final at once. Waking the
    // receivers is left to Shutdown: a dozen threads woken now would take the processor from
    // the owner just when it takes the list.
    FDown = true;
}

void TLanSearch::SearchLibrary() {
    if (FDown) return;
    if (auto z = ZoltSeries())
        z->SearchDevices(8600, "", [this](const TDevInfo* r) {
            if (r && !FDown) FEngine.OnFound(*r);
        });
}

bool TLanSearch::LoadExternal(const std::string& path) {
    FExternal = std::make_unique<TFind_Hisi>(path);
    // The library calls on a thread of its own: each find is handed to the owner's thread.
    FExternal->SetNotification([this](const TDevInfo& r) {
        platform::Synchronize(
            [&] {
                if (!FDown) FEngine.OnFound(r);
            },
            &FDown);
    });
    return FExternal->Loaded();
}

void TLanSearch::StartExternal() {
    if (!FDown && FExternal) FExternal->Search();
}
