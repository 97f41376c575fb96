// Builds real ZIP files: the simulator's packages, and for the tests also the hostile kinds a
// firmware server could send (names that climb out, absolute names, links).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sim {

struct TZipEntry {
    enum TKind { File, Dir, Symlink };
    TZipEntry(std::string name, std::string data = {}, TKind kind = File, std::string link = {})
        : Name(std::move(name)), Data(std::move(data)), Kind(kind), LinkTarget(std::move(link)) {}
    std::string Name;
    std::string Data;
    TKind Kind;
    std::string LinkTarget;
};

// Deflate-compressed unless store is true. Throws std::runtime_error on failure.
void WriteZip(const std::string& path, const std::vector<TZipEntry>& entries, bool store = false);
// One entry whose contents are streamed from a file on disk (for large images).
void WriteZipFromFile(const std::string& path, const std::string& entryName, const std::string& source);

} // namespace sim
