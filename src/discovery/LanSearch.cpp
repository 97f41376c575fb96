#include "LanSearch.h"

#include "Tools_Net.h"
#include "transport/SR_Zolt.h"

TLanSearch::TLanSearch() : FEngine(*this) {}

TLanSearch::~TLanSearch() {
    Shutdown();
}

void TLanSearch::Start() {
    static const int starts[5] = {10001, 10000, 10002, 7999, 6800};
    for (size_t i = 0; i < FListeners.size(); ++i) {
        FListeners[i].OnReceive = [this](const std::string& data, const std::string& ip, int port) {
            FEngine.OnDatagram(data, ip, port);
        };
        // A listener that finds no free port stays inactive; its probes simply go nowhere.
        TTools_Net::BindFirstFreePort(FListeners[i], starts[i]);
    }
}

void TLanSearch::Shutdown() {
    if (FDown) return;
    FDown = true;
    for (TUdpListener& l : FListeners)
        l.Deactivate();
    if (auto z = ZoltSeries()) z->StopSearches();
    External = nullptr;
    FEngine.ClearDeviceList();
}

void TLanSearch::SearchLibrary() {
    if (FDown) return;
    if (auto z = ZoltSeries())
        z->SearchDevices(8600, "", [this](const TDevInfo* r) {
            if (r && !FDown) FEngine.OnFound(*r);
        });
}

void TLanSearch::StartExternal() {
    if (FDown || !External) return;
    External([this](const TDevInfo& r) {
        if (!FDown) FEngine.OnFound(r);
    });
}
