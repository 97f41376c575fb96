#include "SearchCommand.h"

#include "CliCommon.h"
#include "Output.h"
#include "base/Text.h"
#include "discovery/LanSearch.h"
#include "lang/Charset.h"
#include "lang/Lang.h"
#include "platform/Broadcast.h"
#include "platform/Platform.h"

#include <CLI/CLI.hpp>

#include <time.h>

#include <algorithm>
#include <functional>
#include <iomanip>
#include <iostream>
#include <vector>

const char* SeriesName(int type) {
    static const char* names[] = {"E", "F", "H", "T", "C", "ONVIF"};
    int i = TDeviceSearch::SeriesIndexOfType(type);
    return i < 0 ? nullptr : names[i];
}

namespace {

std::chrono::nanoseconds ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// A text from the network as one table cell.
std::string Shown(const std::string& text) {
    return EscapeControls(CameraText(text));
}

void PrintTable(const std::vector<TDevInfo>& rows, std::ostream& out) {
    std::vector<std::vector<std::string>> cells = {
        {"Type", "Name", "IP", "Port", "MAC", "Version", "Series"}};
    for (const TDevInfo& r : rows) {
        const char* series = SeriesName(r.DevType);
        cells.push_back({TypeLetter(r.DevType), Shown(r.DevName), Shown(r.IP), std::to_string(r.HttpPort),
                         Shown(r.MAC), Shown(r.Version), series ? series : "-"});
    }
    PrintColumns(cells, out);
    out << GetLangStr("IDS_DEVCOUNT") << rows.size() << std::endl;
}

// The keys of one row in JSON and CSV: never a password or a DDNS secret.
// source: the address the reply came from.
const char* const kKeys[] = {"type",    "devType", "series",  "name", "ip",   "port", "mac",   "deviceId",
                             "version", "mask",    "gateway", "dns1", "dns2", "dhcp", "source"};

std::vector<std::string> Values(const TDevInfo& r, bool json) {
    auto text = [json](const std::string& s) {
        return json ? JsonString(CameraText(s)) : CsvField(CameraText(s));
    };
    const char* series = SeriesName(r.DevType);
    return {text(TypeLetter(r.DevType)),
            std::to_string(r.DevType),
            series ? text(series) : (json ? "null" : ""),
            text(r.DevName),
            text(r.IP),
            std::to_string(r.HttpPort),
            text(r.MAC),
            text(r.DeviceID),
            text(r.Version),
            text(r.Mask),
            text(r.Gateway),
            text(r.DNS1),
            text(r.DNS2),
            std::to_string(r.DHCP),
            r.Source.empty() && json ? "null" : text(r.Source)};
}

void PrintJson(const std::vector<TDevInfo>& rows, std::ostream& out) {
    out << "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<std::string> v = Values(rows[i], true);
        out << (i ? ",\n " : "\n ") << "{";
        for (size_t k = 0; k < v.size(); ++k)
            out << (k ? ", " : "") << JsonString(kKeys[k]) << ": " << v[k];
        out << "}";
    }
    out << (rows.empty() ? "]" : "\n]") << std::endl;
}

void PrintCsv(const std::vector<TDevInfo>& rows, std::ostream& out) {
    // Written in one piece: a stream insertion a cell costs more than the cell itself.
    std::string text;
    text.reserve(128 * (rows.size() + 1));
    for (size_t k = 0; k < std::size(kKeys); ++k)
        text.append(k ? "," : "").append(kKeys[k]);
    text += "\r\n";
    for (const TDevInfo& r : rows) {
        std::vector<std::string> v = Values(r, false);
        for (size_t k = 0; k < v.size(); ++k)
            text.append(k ? "," : "").append(v[k]);
        text += "\r\n";
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
}

} // namespace

namespace {

// The search runs, its rows are handed to take, and only then are its receivers joined: the rows
// never wait for a receiver that is still busy.
void SearchThen(int rounds, bool external, std::ostream& notes, TSearchEnd* end,
                const std::function<void(std::vector<TDevInfo>&)>& take) {
    {
        TLanSearch lan;
        lan.Engine().OnFull = [&notes] {
            notes << "ipcam-upgrade-cli: " << GetLangStr("IDS_SEARCHFULL") << std::endl;
        };
        lan.Start();
        if (external && !lan.LoadExternal() && lan.ExternalUnknown())
            notes << "ipcam-upgrade-cli: " << GetLangStr("IDS_NOEXTERNALPATH") << std::endl;
        // The timer's period, scaled, but never so short that answers cannot come in between.
        constexpr int64_t tick = 1000, tickFloor = 50;
        platform::Synchronize([&] {
            lan.Engine().Find();
            lan.Engine().SetRound(1);
        });
        for (int i = 0; i < rounds; ++i) {
            platform::Sleep(tick, tickFloor);
            platform::Synchronize([&] { lan.Engine().Tick(); });
        }
        platform::Sleep(tick, tickFloor); // late answers
        if (end) {
            end->LastWait = std::chrono::steady_clock::now();
            end->CpuAtLastWait = ThreadCpu();
        }
        lan.StopReceiving();
        // The dialog's order: IP address ascending, part by part as numbers.
        std::vector<TDevInfo> rows = lan.Engine().Rows();
        if (end) end->RowsTaken = std::chrono::steady_clock::now();
        take(rows);
    }
    if (end) end->Stopped = std::chrono::steady_clock::now();
}

} // namespace

std::vector<TDevInfo> SearchLan(int rounds, bool external, std::ostream& notes) {
    std::vector<TDevInfo> found;
    SearchThen(rounds, external, notes, nullptr, [&found](std::vector<TDevInfo>& rows) { found.swap(rows); });
    return found;
}

int RunSearch(const TCliSearchOptions& o, std::ostream& out, std::ostream& notes, TSearchEnd* end) {
    TCliEnvironment environment(platform::IDNO, o.Lang);
    if (environment.Refused()) return 2;
    platform::SetSearchInterface(o.Interface);
    SearchThen(o.Rounds, o.External, notes, end, [&](std::vector<TDevInfo>& rows) {
        if (o.Format == "json")
            PrintJson(rows, out);
        else if (o.Format == "csv")
            PrintCsv(rows, out);
        else
            PrintTable(rows, out);
        if (end) {
            end->Printed = std::chrono::steady_clock::now();
            end->CpuAtPrinted = ThreadCpu();
        }
    });
    return 0;
}

TSearchCommand::TSearchCommand(CLI::App& app) {
    FCommand =
        app.add_subcommand("search", "search the LAN for cameras as the search dialog does, then list them");
    FCommand->add_option("--rounds", FOptions.Rounds, "timer ticks after the Find round, one a second")
        ->check(CLI::Range(0, 3600))
        ->capture_default_str();
    auto* json = FCommand->add_flag("-j,--json", FJson, "one JSON array of the devices");
    auto* csv = FCommand->add_flag("--csv", FCsv, "CSV with a header row");
    json->excludes(csv);
    FCommand->add_flag("--no-external", FNoExternal, "do not load the external search library");
    FCommand->add_option("--lang", FOptions.Lang, "language code of the texts (en, jp, ...)");
    FCommand->add_option("--interface", FOptions.Interface,
                         "search through this network interface only (when IPCAM_BROADCAST_ADDR is not set)");
}

bool TSearchCommand::Parsed() const {
    return FCommand->parsed();
}

int TSearchCommand::Run() {
    FOptions.Format = FJson ? "json" : FCsv ? "csv" : "table";
    FOptions.External = !FNoExternal;
    return RunSearch(FOptions, std::cout, std::cerr);
}
