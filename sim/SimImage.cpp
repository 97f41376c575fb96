#include "SimImage.h"

#include <fstream>
#include <stdexcept>
#include <vector>

namespace sim {

namespace {
constexpr std::string_view kMarker = "IPCAMSIM version=";
}

const char* SeriesName(TSeries s) {
    switch (s) {
    case TSeries::E:
        return "E";
    case TSeries::F:
        return "F";
    case TSeries::H:
        return "H";
    case TSeries::T:
        return "T";
    case TSeries::C:
        return "C";
    }
    return "?";
}

bool ParseSeries(std::string_view text, TSeries& s) {
    if (text.size() != 1) return false;
    switch (text[0] & ~0x20) {
    case 'E':
        s = TSeries::E;
        return true;
    case 'F':
        s = TSeries::F;
        return true;
    case 'H':
        s = TSeries::H;
        return true;
    case 'T':
        s = TSeries::T;
        return true;
    case 'C':
        s = TSeries::C;
        return true;
    default:
        return false;
    }
}

std::string Signature(TKind kind) {
    return kind == TKind::System ? std::string("\x42\x4E\x45\x47", 4) : std::string("\xBD\x9A\x0C\x44", 4);
}

std::string MakeImage(TKind kind, const std::string& version, uint64_t size) {
    std::string img = Signature(kind) + std::string(kMarker) + version + "\n";
    while (img.size() < size)
        img += static_cast<char>(img.size() * 131 % 251);
    return img;
}

void WriteImageFile(const std::string& path, TKind kind, const std::string& version, uint64_t size) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    std::string head = MakeImage(kind, version, 0);
    f << head;
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (uint64_t left = size > head.size() ? size - head.size() : 0; left > 0;) {
        uint64_t n = std::min<uint64_t>(left, block.size());
        f.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
}

std::string ImageVersion(std::string_view head) {
    if (head.size() < 4 || head.substr(4, kMarker.size()) != kMarker) return {};
    std::string_view rest = head.substr(4 + kMarker.size());
    size_t nl = rest.find('\n');
    if (nl == std::string_view::npos || nl > 64) return {};
    return std::string(rest.substr(0, nl));
}

std::string NextVersion(const std::string& version, int part) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t dot; (dot = version.find('.', start)) != std::string::npos; start = dot + 1)
        parts.push_back(version.substr(start, dot - start));
    parts.push_back(version.substr(start));
    size_t i =
        part < 0 || static_cast<size_t>(part) >= parts.size() ? parts.size() - 1 : static_cast<size_t>(part);
    try {
        parts[i] = std::to_string(std::stol(parts[i]) + 1);
    } catch (...) {
        return version + ".1";
    }
    std::string out;
    for (size_t k = 0; k < parts.size(); ++k)
        out += (k ? "." : "") + parts[k];
    return out;
}

} // namespace sim
