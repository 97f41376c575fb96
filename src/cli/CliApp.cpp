#include "CliApp.h"

#include "CacheCommand.h"
#include "CliCommon.h"
#include "HistoryCommand.h"
#include "platform/Platform.h"
#include "transport/RequestTrace.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <iostream>
#include <vector>

namespace {

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The first word that is no option names the subcommand; one we do not have is refused here,
// with the nearest name, before the parser calls it a missing subcommand.
bool UnknownSubcommand(int argc, char** argv, const std::vector<std::string>& known) {
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--") return false;
        if (!word.empty() && word[0] == '-') continue;
        if (std::find(known.begin(), known.end(), word) != known.end()) return false;
        std::string nearest;
        size_t best = 3; // more edits than two is no typing slip
        for (const std::string& k : known)
            if (size_t d = EditDistance(word, k); d < best) {
                best = d;
                nearest = k;
            }
        std::cerr << "ipcam-upgrade-cli: unknown subcommand " << word;
        if (!nearest.empty())
            std::cerr << "; did you mean " << nearest << "?";
        else {
            std::cerr << "; the subcommands are";
            for (size_t k = 0; k < known.size(); ++k)
                std::cerr << (k ? ", " : " ") << known[k];
        }
        std::cerr << std::endl;
        return true;
    }
    return false;
}

} // namespace

int CliMain(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    try {
        platform::StartSockets();
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
    CLI::App app{
        "Upgrades the firmware of IP cameras.\n"
        "Environment: IPCAM_FIRMWARE_SERVER (firmware server base URL or folder), IPCAM_PASSWORD (camera "
        "password when none is given), IPCAM_TIME_SCALE (factor for every wait), IPCAM_BROADCAST_ADDR "
        "(where discovery datagrams go)."};
    app.set_version_flag("--version", "ipcam-upgrade-cli " IPCAM_VERSION);
    app.require_subcommand(1);
    // The options of the whole program may stand after the subcommand too.
    app.fallthrough();
    int verbose = 0;
    bool quiet = false;
    auto* v = app.add_flag("-v,--verbose", verbose,
                           "each request's method, URL, status and time on standard error; twice (-vv): "
                           "libcurl's trace too (credentials masked)");
    app.add_flag("-q,--quiet", quiet, "print only failures")->excludes(v);
    TUpgradeCommand upgrade(app);
    TSearchCommand search(app);
    TBatchCommand batch(app);
    TMirrorCommand mirror(app);
    TCacheCommand cache(app);
    THistoryCommand history(app);
    std::vector<std::string> known;
    for (const CLI::App* sub : app.get_subcommands({}))
        known.push_back(sub->get_name());
    if (UnknownSubcommand(argc, argv, known)) return 2;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    SetCliVerbosity(quiet ? -1 : verbose);
    if (verbose > 0)
        http::SetRequestTrace(verbose, [](const std::string& line) {
            ClearProgressLine();
            std::cerr << line << std::endl;
        });
    int rc = 1;
    if (upgrade.Parsed()) rc = upgrade.Run();
    if (search.Parsed()) rc = search.Run();
    if (batch.Parsed()) rc = batch.Run();
    if (mirror.Parsed()) rc = mirror.Run();
    if (cache.Parsed()) rc = cache.Run();
    if (history.Parsed()) rc = history.Run();
    http::SetRequestTrace(0, nullptr);
    platform::StopSockets();
    return rc;
}
