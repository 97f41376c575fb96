// The camera search dialog without its window: the rows, the once-a-second rounds, the
// countdowns, the sorting, the selection and the result. The window (or the command line) owns
// one, feeds it datagrams and timer ticks on one thread, and hears of changes through OnRowsChanged.
#pragma once

#include "SearchReplies.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// What the search needs of the network, so that tests can stand in for it (and for the clock:
// the owner drives the ticks).
class ISearchNetwork {
  public:
    virtual ~ISearchNetwork() = default;
    // The listener (1 to 5) a probe leaves from, as the design assigns them.
    virtual IDatagramPort& Listener(int n) = 0;
    // The device-control library's search on port 8600; its finds come back to AddOrUpdateDevice.
    virtual void SearchLibrary() = 0;
    // One search of the external library.
    virtual void StartExternal() = 0;
};

class TDeviceSearch {
  public:
    // Columns of the list, and the text of each cell.
    enum TColumn { ColType = 0, ColName = 1, ColIP = 2, ColPort = 3 };
    static constexpr int RowLife = 10;
    static constexpr int LongRowLife = 30;   // types 1 and 8 on first listing
    static constexpr int ExternalType = 4;   // rows that never expire (and standard cameras)
    static constexpr int MaxFollowUps = 256; // per kind and round
    static constexpr size_t MaxRows = 4096;  // new devices beyond are not listed

    explicit TDeviceSearch(ISearchNetwork& network);
    TDeviceSearch(const TDeviceSearch&) = delete;
    TDeviceSearch& operator=(const TDeviceSearch&) = delete;

    // ---- the designed steps ----
    void SearchRound(int round, bool withExternal);
    // The Find button: clear, then a round with the external search.
    void Find();
    // The timer: a round, the countdowns, the count.
    void Tick();
    // One received datagram (any listener).
    void OnDatagram(const std::string& data, const std::string& fromIP, int fromPort);
    // A record from the device-control library or the external library.
    void OnFound(const TDevInfo& record);
    bool AddOrUpdateDevice(const TDevInfo& record);
    void ClearDeviceList();
    const TDevInfo* FindRowByMac(const std::string& mac) const;
    static int SeriesIndexOfType(int type);

    // ---- the list ----
    size_t Count() const { return FRows.size(); }
    const TDevInfo& Row(size_t i) const { return FRows[i]->Info; }
    // A copy of the rows in the list's order, safe from any thread: it never waits for the
    // owner's thread, only for a change of the rows that is under way.
    std::vector<TDevInfo> Rows() const;
    static std::string Cell(const TDevInfo& info, int column);
    void ColumnClick(int column);
    int SortColumn() const { return FSortColumn; }
    bool Ascending() const { return FAscending; }
    // The selected row's index, -1 for none; the selection follows its device, never an index.
    int Selected() const;
    // The operator picks a row (-1: none).
    void Select(int index);
    // The row of the device with this key (see KeyOf), -1 when none: a window that shows rows
    // from a moment ago still picks the device it showed.
    int IndexOfKey(const std::string& key) const;
    // What tells devices apart: the MAC text, or type, address and port without one.
    static std::string KeyOf(const TDevInfo& info);
    int Round() const { return FRound; }
    void SetRound(int round) { FRound = round; }

    // The OK button: true with the chosen camera, false (and IP empty, port 0, series -1) as Cancel.
    struct TResult {
        std::string szIP;
        int nPort = 0;
        int nTYpe = -1;
    };
    bool Ok(TResult& result) const;

    std::function<void()> OnRowsChanged;
    // Called once when a device is left out because the list is full (again after a clear).
    std::function<void()> OnFull;

  private:
    struct TRow {
        TDevInfo Info;
    };
    // The follow-ups of the binary dialect go through here: one per kind, sender and payload and
    // at most MaxFollowUps per kind in a round, so that the search is no reflector.
    class TFollowUpGate : public IDatagramPort {
      public:
        explicit TFollowUpGate(TDeviceSearch& owner) : FOwner(owner) {}
        bool SendTo(const std::string& data, const std::string& ip, int port) override;
        void NewRound();
        std::string Sender;

      private:
        TDeviceSearch& FOwner;
        std::unordered_map<std::string, int> FPerKind;
        std::unordered_set<std::string> FSeen;
    };

    bool Less(const TRow& a, const TRow& b) const;
    int IndexOfRow(const TRow* row) const; // -1 when it is no row of the list
    // A listed device heard again; true when its row changed.
    bool Refresh(TDevInfo& row, const TDevInfo& record);
    // These three change the rows: only with FRowsLock held.
    void Insert(std::unique_ptr<TRow> row);
    void Resort();
    void Remove(size_t index);
    void UpdateDeviceCount();
    void Changed();

    ISearchNetwork& FNetwork;
    TFollowUpGate FGate;
    std::vector<std::unique_ptr<TRow>> FRows;
    // Held by the owner's thread while it changes the rows, and by Rows(); the owner's own reads
    // need no lock, since only it writes.
    mutable std::mutex FRowsLock;
    // Rows by their key (the MAC text, or type, address and port when there is none).
    std::unordered_map<std::string, TRow*> FByKey;
    TRow* FSelected = nullptr;
    bool FOperatorChose = false;
    int FSortColumn = ColIP;
    bool FAscending = true;
    int FRound = 0;
    bool FToldFull = false;
};
