#include "CacheCommand.h"

#include "CliCommon.h"
#include "Output.h"
#include "app/OptionFile.h"
#include "base/Text.h"
#include "upgrade/ImageCache.h"

#include <CLI/CLI.hpp>

#include <ctime>
#include <iostream>

int RunCache(bool list, bool clean, const std::string& cacheDir, std::ostream& out) {
    if (list == clean) {
        std::cerr << "ipcam-upgrade-cli: cache needs --list or --clean" << std::endl;
        return 2;
    }
    imagecache::SetCacheDir(cacheDir);
    std::string dir = imagecache::CacheDir();
    if (dir.empty()) {
        std::cerr << "ipcam-upgrade-cli: no cache folder can be used" << std::endl;
        return 1;
    }
    if (clean) {
        size_t n = imagecache::Clean(dir);
        if (CliVerbosity() >= 0)
            out << "removed " << n << " image" << (n == 1 ? "" : "s") << " from " << dir << std::endl;
        return 0;
    }
    std::vector<std::vector<std::string>> rows = {{"Image", "Size", "Folder", "MD5", "Last used"}};
    uint64_t total = 0;
    std::vector<imagecache::TCachedImage> images = imagecache::List(dir);
    for (const imagecache::TCachedImage& image : images) {
        char size[32], used[32];
        std::snprintf(size, sizeof size, "%.1f MiB", static_cast<double>(image.Size) / (1 << 20));
        std::tm tm{};
        localtime_r(&image.LastUsed, &tm);
        std::strftime(used, sizeof used, "%Y-%m-%d %H:%M", &tm);
        rows.push_back({EscapeControls(ValidUtf8(image.Path.substr(image.Path.rfind('/') + 1))), size,
                        EscapeControls(ValidUtf8(image.Folder)), EscapeControls(image.MD5), used});
        total += image.Size;
    }
    out << dir << ": " << images.size() << " image" << (images.size() == 1 ? "" : "s") << ", "
        << (total >> 20) << " MiB" << std::endl;
    if (!images.empty()) PrintColumns(rows, out);
    return 0;
}

TCacheCommand::TCacheCommand(CLI::App& app) {
    FCommand = app.add_subcommand("cache", "list or empty the cache of verified firmware images");
    auto* list = FCommand->add_flag("--list", FList, "list the cached images, the most recently used first");
    auto* clean = FCommand->add_flag("--clean", FClean, "remove every cached image");
    list->excludes(clean);
    FCommand->add_option("--cache-dir", FCacheDir,
                         "the cache folder (default: $XDG_CACHE_HOME/ipcam-upgrade)");
}

bool TCacheCommand::Parsed() const {
    return FCommand->parsed();
}

int TCacheCommand::Run() {
    return RunCache(FList, FClean, FCacheDir, std::cout);
}
