#include "HistoryCommand.h"

#include "Output.h"
#include "app/History.h"
#include "base/Text.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <fstream>
#include <iostream>

int RunHistory(bool json, const std::string& camera, std::ostream& out) {
    std::string path = HistoryPath();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return 0; // nothing done yet
        std::cerr << "ipcam-upgrade-cli: cannot read " << path << std::endl;
        return 1;
    }
    std::string wanted = TrimText(camera);
    std::vector<std::vector<std::string>> rows = {
        {"Time", "Camera", "MAC", "Series", "Firmware", "Outcome", "Before", "Offered", "After"}};
    auto shown = [](const std::optional<std::string>& v) { return v ? EscapeControls(ValidUtf8(*v)) : "-"; };
    std::string line;
    while (std::getline(in, line)) {
        THistoryEntry e;
        if (!ParseHistoryLine(line, e)) continue;
        std::string name = e.IP + ":" + e.Port;
        if (!wanted.empty() && wanted != e.IP && wanted != name) continue;
        if (json) {
            out << line << "\n";
            continue;
        }
        rows.push_back({EscapeControls(ValidUtf8(e.Time)), EscapeControls(ValidUtf8(name)),
                        e.Mac.empty() ? "-" : EscapeControls(ValidUtf8(e.Mac)),
                        EscapeControls(ValidUtf8(e.Series)), EscapeControls(ValidUtf8(e.Firmware)),
                        EscapeControls(ValidUtf8(e.Outcome)), shown(e.VersionBefore), shown(e.VersionOffered),
                        shown(e.VersionAfter)});
    }
    if (!json && rows.size() > 1) PrintColumns(rows, out);
    out.flush();
    return 0;
}

THistoryCommand::THistoryCommand(CLI::App& app) {
    FCommand = app.add_subcommand("history", "show the sessions done so far, from the history file");
    FCommand->add_flag("-j,--json", FJson, "the stored JSON lines instead of a table");
    FCommand->add_option("--camera", FCamera, "only the sessions of this camera (IP or IP:PORT)");
}

bool THistoryCommand::Parsed() const {
    return FCommand->parsed();
}

int THistoryCommand::Run() {
    return RunHistory(FJson, FCamera, std::cout);
}
