#include "CliApp.h"

#include "platform/Platform.h"

#include <CLI/CLI.hpp>

#include <clocale>
#include <iostream>

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
    TUpgradeCommand upgrade(app);
    TSearchCommand search(app);
    TBatchCommand batch(app);
    TMirrorCommand mirror(app);
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
    int rc = 1;
    if (upgrade.Parsed()) rc = upgrade.Run();
    if (search.Parsed()) rc = search.Run();
    if (batch.Parsed()) rc = batch.Run();
    if (mirror.Parsed()) rc = mirror.Run();
    platform::StopSockets();
    return rc;
}
