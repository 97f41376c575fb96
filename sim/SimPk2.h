// ".pk2" packages as the E series takes them: records of files and commands.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct TPk2Record {
    std::string Tag;  // "FILE", "CMD " or anything else (a record the upload passes over)
    std::string Name; // FILE records
    std::string Data; // the file's bytes, or the command text
    // Overrides for broken packages in tests: when set, written instead of the true values.
    long long NameLength = -1, Size = -1, Length = -1;
};

std::string Pk2Bytes(const std::vector<TPk2Record>& records,
                     const std::string& magic = std::string("PK2\0", 4), long long recordCount = -1);
void WritePk2(const std::string& path, const std::vector<TPk2Record>& records);
// A package that carries one image and the command that installs it.
std::vector<TPk2Record> ImagePackage(const std::string& imageName, const std::string& image);

} // namespace sim
