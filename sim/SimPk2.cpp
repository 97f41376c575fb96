#include "SimPk2.h"

#include <fstream>
#include <stdexcept>

namespace sim {

namespace {
void Put32(std::string& out, long long v) {
    auto u = static_cast<uint32_t>(static_cast<int32_t>(v));
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((u >> (8 * i)) & 0xFF);
}
} // namespace

std::string Pk2Bytes(const std::vector<TPk2Record>& records, const std::string& magic,
                     long long recordCount) {
    std::string out = magic.substr(0, 4);
    out.resize(24, '\0');
    Put32(out, recordCount >= 0 ? recordCount : static_cast<long long>(records.size()));
    for (const TPk2Record& r : records) {
        std::string payload;
        if (r.Tag == "FILE") {
            Put32(payload, r.NameLength >= 0 ? r.NameLength : static_cast<long long>(r.Name.size()));
            payload += r.Name;
            Put32(payload, r.Size >= 0 ? r.Size : static_cast<long long>(r.Data.size()));
            payload += r.Data;
        } else {
            payload = r.Data;
        }
        std::string head = r.Tag.substr(0, 4);
        head.resize(20, '\0');
        out += head;
        Put32(out, r.Length >= 0 ? r.Length : static_cast<long long>(payload.size()));
        out += payload;
    }
    return out;
}

void WritePk2(const std::string& path, const std::vector<TPk2Record>& records) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    f << Pk2Bytes(records);
}

std::vector<TPk2Record> ImagePackage(const std::string& imageName, const std::string& image) {
    return {{"FILE", imageName, image}, {"CMD ", "", "upgrade " + imageName}};
}

} // namespace sim
