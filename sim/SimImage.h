// Firmware images as the simulated cameras make and read them: the series' four signature
// bytes, a line that names the version and kind, and filler up to the wanted size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

enum class TSeries { E, F, H, T, C };
const char* SeriesName(TSeries s);
bool ParseSeries(std::string_view text, TSeries& s);

enum class TKind { System, UI };

// The signature a camera of the series checks for the kind (F system "BNEG", F UI BD 9A 0C 44;
// the other series use the same bytes without checking them).
std::string Signature(TKind kind);
std::string MakeImage(TKind kind, const std::string& version, uint64_t size = 4096);
// Writes a large image to a file without holding it in memory.
void WriteImageFile(const std::string& path, TKind kind, const std::string& version, uint64_t size);
// The version an image carries; empty when its head does not name one.
std::string ImageVersion(std::string_view head);

// The version after v: its last number plus one ("48.2.0.10" -> "48.2.0.11"), or the number at
// index part ("47.2.3.18", 2 -> "47.2.4.18").
std::string NextVersion(const std::string& version, int part = -1);

} // namespace sim
