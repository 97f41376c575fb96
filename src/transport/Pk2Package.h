// The ".pk2" package of the E series: its layout, its reader and the limits a camera can take.
#pragma once

#include "platform/Fd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The ".pk2" layout, little-endian throughout:
//   header  28 bytes: "PK2\0" ... record count (int32) at offset 24
//   record  24 bytes: tag ("FILE", "CMD " or another) ... payload length L (int32) at offset 20,
//           then L bytes of payload
//   FILE payload: name length N (int32), N name bytes, data size S (int32), S data bytes
//   CMD payload:  L bytes of command text
namespace pk2 {
inline constexpr size_t HeadSize = 28;
inline constexpr size_t CountOffset = 24;
inline constexpr size_t RecordHeadSize = 24;
inline constexpr size_t LengthOffset = 20;
inline constexpr int32_t MaxNameLength = 255;

int32_t LittleEndian(const unsigned char* p);
} // namespace pk2

// Owns one open package file, read in large blocks: the upload takes it a chunk at a time.
class TPackageFile {
  public:
    static constexpr size_t BlockSize = 256 * 1024;

    explicit TPackageFile(const std::string& path);
    ~TPackageFile();
    TPackageFile(const TPackageFile&) = delete;
    TPackageFile& operator=(const TPackageFile&) = delete;
    bool IsOpen() const { return FFd.Valid(); }
    // Reads up to n bytes; the count read (less at the end of the file).
    size_t Read(void* buf, size_t n);
    // One little-endian int32; false at the end of the file.
    bool ReadInt(int32_t& v);
    bool Skip(int64_t n);
    void Close();

  private:
    platform::TFd FFd;
    std::unique_ptr<unsigned char[]> FBlock;
    size_t FAt = 0;  // the next byte of the block to hand out
    size_t FEnd = 0; // the bytes of the block read from the file
};

namespace pk2 {
// Whether the file opens and begins with the package's signature.
bool HasSignature(const std::string& path);
// Whether every record stays inside the file, every name has at most MaxNameLength bytes and
// no zero byte, and CmdFits takes the length of every CMD record.
bool WithinLimits(const std::string& path, bool (*CmdFits)(int32_t L));
} // namespace pk2
