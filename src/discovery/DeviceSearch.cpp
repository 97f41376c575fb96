#include "DeviceSearch.h"

#include "NetHelpers.h"

#include <strings.h>

#include <algorithm>

TDeviceSearch::TDeviceSearch(ISearchNetwork& network) : FNetwork(network), FGate(*this) {}

// ---- follow-up gate ----

bool TDeviceSearch::TFollowUpGate::SendTo(const std::string& data, const std::string& ip, int port) {
    std::string kind = data.substr(2, 2);
    if (!FSeen.insert(kind + '\n' + Sender + '\n' + ip + '\n' + data).second) return false;
    if (++FPerKind[kind] > MaxFollowUps) return false;
    return FOwner.FNetwork.Listener(5).SendTo(data, ip, port);
}

void TDeviceSearch::TFollowUpGate::NewRound() {
    FPerKind.clear();
    FSeen.clear();
}

// ---- rounds ----

void TDeviceSearch::SearchRound(int round, bool withExternal) {
    FGate.NewRound();
    // Each step on its own: an error in one never stops the others.
    auto step = [](const std::function<void()>& f) {
        try {
            f();
        } catch (...) {
        }
    };
    if (round % 3 == 0) step([&] { Broadcast(FNetwork.Listener(1), probe::Imagia, probe::ImagiaPort); });
    step([&] { FNetwork.SearchLibrary(); });
    step([&] { SendSq610Probe(probe::Sq610Port, FNetwork.Listener(1)); });
    step([&] { SendMoiProbe(probe::MoiPort, FNetwork.Listener(2)); });
    step([&] { SendUicamProbe(probe::UicamPort, FNetwork.Listener(3)); });
    step([&] { SendCtpSearchProbe(probe::CtpSearchPort, FNetwork.Listener(4)); });
    step([&] { SendBinaryProbe(probe::BinaryPort, FNetwork.Listener(5)); });
    if (withExternal) step([&] { FNetwork.StartExternal(); });
}

void TDeviceSearch::Find() {
    ClearDeviceList();
    SearchRound(0, true);
}

void TDeviceSearch::Tick() {
    SearchRound(FRound, false);
    bool removed = false;
    std::unique_lock rows(FRowsLock);
    for (size_t i = FRows.size(); i-- > 0;) {
        TDevInfo& info = FRows[i]->Info;
        if (info.DevType == ExternalType || info.DevType == StandardCameraType) continue;
        if (--info.Countdown == 0) {
            Remove(i);
            removed = true;
        }
    }
    rows.unlock();
    UpdateDeviceCount();
    ++FRound;
    if (removed) Changed();
}

void TDeviceSearch::OnDatagram(const std::string& data, const std::string& fromIP, int fromPort) {
    TDevInfo record;
    record.ClearForDatagram();
    FGate.Sender = fromIP + ":" + std::to_string(fromPort);
    TFindRow find = [this](const std::string& mac) { return FindRowByMac(mac); };
    if (!ParseReply(data, record, find, FGate, probe::BinaryPort)) return;
    // Set after parsing: a DDNS reply starts from a copy of the listed row, whose sender it is not.
    record.Source = fromIP;
    OnFound(record);
}

void TDeviceSearch::OnFound(const TDevInfo& record) {
    if (AddOrUpdateDevice(record) && !FSelected && !FRows.empty() && !FOperatorChose)
        FSelected = FRows[0].get();
    UpdateDeviceCount();
}

// ---- rows ----

std::string TDeviceSearch::KeyOf(const TDevInfo& info) {
    // Devices without a MAC text never merge: they are told apart by type, address and port.
    if (!info.MAC.empty()) return "M" + info.MAC;
    return "N" + std::to_string(info.DevType) + "|" + info.IP + "|" + std::to_string(info.HttpPort);
}

bool TDeviceSearch::Refresh(TDevInfo& row, const TDevInfo& record) {
    // A camera that answered for itself keeps its row against replies that name an address
    // they were not sent from, whatever MAC they claim.
    if (row.AnsweredForItself() && !record.AnsweredForItself()) return false;
    int countdown = row.DevType == 1 ? LongRowLife : RowLife;
    std::lock_guard g(FRowsLock);
    row.Countdown = countdown;
    if (row.IP == record.IP && row.DevName == record.DevName && row.HttpPort == record.HttpPort &&
        row.DevType == record.DevType && row.Mask == record.Mask && row.Gateway == record.Gateway &&
        row.DNS1 == record.DNS1 && row.DNS2 == record.DNS2 && row.Port2 == record.Port2 &&
        row.DHCP == record.DHCP)
        return false;
    row = record;
    row.Countdown = countdown;
    Resort();
    return true;
}

bool TDeviceSearch::AddOrUpdateDevice(const TDevInfo& record) {
    if (record.DevType == -1) return false;
    if (auto it = FByKey.find(KeyOf(record)); it != FByKey.end()) {
        if (Refresh(it->second->Info, record)) Changed();
        return false;
    }
    if (FRows.size() >= MaxRows) {
        if (!FToldFull && OnFull) OnFull();
        FToldFull = true;
        return false;
    }
    auto row = std::make_unique<TRow>();
    row->Info = record;
    row->Info.Countdown = record.DevType == 1 || record.DevType == 8 ? LongRowLife : RowLife;
    FByKey[KeyOf(record)] = row.get();
    {
        std::lock_guard g(FRowsLock);
        Insert(std::move(row));
    }
    UpdateDeviceCount();
    Changed();
    return true;
}

void TDeviceSearch::ClearDeviceList() {
    {
        std::lock_guard g(FRowsLock);
        FRows.clear();
    }
    FByKey.clear();
    FSelected = nullptr;
    FOperatorChose = false;
    FToldFull = false;
    UpdateDeviceCount();
    Changed();
}

std::vector<TDevInfo> TDeviceSearch::Rows() const {
    std::lock_guard g(FRowsLock);
    std::vector<TDevInfo> rows;
    rows.reserve(FRows.size());
    for (const auto& r : FRows)
        rows.push_back(r->Info);
    return rows;
}

const TDevInfo* TDeviceSearch::FindRowByMac(const std::string& mac) const {
    if (mac.empty()) return nullptr;
    auto it = FByKey.find("M" + mac);
    return it == FByKey.end() ? nullptr : &it->second->Info;
}

int TDeviceSearch::SeriesIndexOfType(int type) {
    switch (type) {
    case 5:
        return 0;
    case 2:
        return 1;
    case 8:
        return 2;
    case 9:
        return 3;
    case 10:
        return 4;
    case StandardCameraType:
        return 5;
    default:
        return -1;
    }
}

void TDeviceSearch::Remove(size_t index) {
    TRow* row = FRows[index].get();
    if (row == FSelected) FSelected = nullptr; // a chosen camera that went leaves no choice
    auto it = FByKey.find(KeyOf(row->Info));
    if (it != FByKey.end() && it->second == row) FByKey.erase(it);
    FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(index));
}

void TDeviceSearch::UpdateDeviceCount() {
    if (!FRows.empty() && !FSelected && !FOperatorChose) FSelected = FRows[0].get();
}

void TDeviceSearch::Changed() {
    if (OnRowsChanged) OnRowsChanged();
}

// ---- sorting ----

std::string TDeviceSearch::Cell(const TDevInfo& info, int column) {
    switch (column) {
    case ColType:
        return TypeLetter(info.DevType);
    case ColName:
        return info.DevName;
    case ColIP:
        return info.IP;
    default:
        return std::to_string(info.HttpPort);
    }
}

bool TDeviceSearch::Less(const TRow& a, const TRow& b) const {
    const TDevInfo &x = a.Info, &y = b.Info;
    int c = 0;
    switch (FSortColumn) {
    case ColType:
        c = strcasecmp(TypeLetter(x.DevType).c_str(), TypeLetter(y.DevType).c_str());
        break;
    case ColName:
        c = strcasecmp(x.DevName.c_str(), y.DevName.c_str());
        break;
    case ColIP:
        c = TTools_Net::CompareDotted(x.IP, y.IP);
        break;
    default:
        // Numerically; equal ports by address, then by MAC, so that the order is always the same.
        c = x.HttpPort < y.HttpPort   ? -1
            : x.HttpPort > y.HttpPort ? 1
                                      : TTools_Net::CompareDotted(x.IP, y.IP);
        if (c == 0) c = x.MAC.compare(y.MAC);
        break;
    }
    return FAscending ? c < 0 : c > 0;
}

void TDeviceSearch::Insert(std::unique_ptr<TRow> row) {
    auto at = std::upper_bound(
        FRows.begin(), FRows.end(), row,
        [this](const std::unique_ptr<TRow>& a, const std::unique_ptr<TRow>& b) { return Less(*a, *b); });
    FRows.insert(at, std::move(row));
}

void TDeviceSearch::Resort() {
    std::stable_sort(
        FRows.begin(), FRows.end(),
        [this](const std::unique_ptr<TRow>& a, const std::unique_ptr<TRow>& b) { return Less(*a, *b); });
}

void TDeviceSearch::ColumnClick(int column) {
    if (column == FSortColumn)
        FAscending = !FAscending;
    else {
        FSortColumn = column;
        FAscending = true;
    }
    {
        std::lock_guard g(FRowsLock);
        Resort();
    }
    Changed();
}

// ---- selection and result ----

int TDeviceSearch::IndexOfRow(const TRow* row) const {
    for (size_t i = 0; i < FRows.size(); ++i)
        if (FRows[i].get() == row) return static_cast<int>(i);
    return -1;
}

int TDeviceSearch::Selected() const {
    return IndexOfRow(FSelected);
}

void TDeviceSearch::Select(int index) {
    FSelected = index >= 0 && static_cast<size_t>(index) < FRows.size()
                    ? FRows[static_cast<size_t>(index)].get()
                    : nullptr;
    FOperatorChose = true;
}

int TDeviceSearch::IndexOfKey(const std::string& key) const {
    auto it = FByKey.find(key);
    return it == FByKey.end() ? -1 : IndexOfRow(it->second);
}

bool TDeviceSearch::Ok(TResult& result) const {
    result = TResult();
    if (!FSelected) return false;
    result.szIP = FSelected->Info.IP;
    result.nPort = FSelected->Info.HttpPort;
    result.nTYpe = SeriesIndexOfType(FSelected->Info.DevType);
    return true;
}
