#include "Pk2Package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

int32_t pk2::LittleEndian(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

TPackageFile::TPackageFile(const std::string& path)
    : FFd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)) {}
TPackageFile::~TPackageFile() {
    Close();
}

size_t TPackageFile::Read(void* buf, size_t n) {
    size_t got = 0;
    auto* p = static_cast<unsigned char*>(buf);
    while (FFd.Valid() && got < n) {
        if (FAt == FEnd) {
            if (!FBlock) FBlock = std::make_unique<unsigned char[]>(BlockSize);
            ssize_t r = platform::ReadSome(FFd.Get(), FBlock.get(), BlockSize);
            if (r <= 0) break;
            FAt = 0;
            FEnd = static_cast<size_t>(r);
        }
        size_t k = std::min(n - got, FEnd - FAt);
        std::memcpy(p + got, FBlock.get() + FAt, k);
        FAt += k;
        got += k;
    }
    return got;
}

bool TPackageFile::ReadInt(int32_t& v) {
    unsigned char b[4];
    if (Read(b, 4) != 4) return false;
    v = pk2::LittleEndian(b);
    return true;
}

bool TPackageFile::Skip(int64_t n) {
    if (!FFd.Valid() || n < 0) return false;
    if (static_cast<uint64_t>(n) <= FEnd - FAt) {
        FAt += static_cast<size_t>(n);
        return true;
    }
    // The file's offset stands at the end of the block: what is left of the block is skipped too.
    n -= static_cast<int64_t>(FEnd - FAt);
    FAt = FEnd = 0;
    return lseek(FFd.Get(), n, SEEK_CUR) >= 0;
}

void TPackageFile::Close() {
    FFd.Reset();
    FAt = FEnd = 0;
}

bool pk2::HasSignature(const std::string& path) {
    TPackageFile f(path);
    unsigned char head[HeadSize];
    if (!f.IsOpen() || f.Read(head, sizeof head) != sizeof head) return false;
    return std::memcmp(head, "PK2", 4) == 0;
}

bool pk2::WithinLimits(const std::string& path, bool (*CmdFits)(int32_t L)) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    TPackageFile f(path);
    unsigned char head[HeadSize];
    if (f.Read(head, sizeof head) != sizeof head) return false;
    int64_t size = st.st_size, at = HeadSize;
    int32_t records = LittleEndian(head + CountOffset);
    for (int32_t i = 0; i < records; ++i) {
        unsigned char rec[RecordHeadSize];
        if (f.Read(rec, sizeof rec) != sizeof rec) return false;
        at += RecordHeadSize;
        int32_t L = LittleEndian(rec + LengthOffset);
        if (L < 0 || L > size - at) return false;
        if (std::memcmp(rec, "FILE", 4) == 0) {
            int32_t N, S;
            if (L < 8 || !f.ReadInt(N) || N < 0 || N > MaxNameLength || N > L - 8) return false;
            std::string name(static_cast<size_t>(N), '\0');
            if (f.Read(name.data(), name.size()) != name.size() || name.find('\0') != std::string::npos)
                return false;
            if (!f.ReadInt(S) || S < 0 || static_cast<int64_t>(S) != static_cast<int64_t>(L) - 8 - N)
                return false;
            if (!f.Skip(S)) return false;
        } else if (std::memcmp(rec, "CMD ", 4) == 0) {
            if (!CmdFits(L) || !f.Skip(L)) return false;
        } else if (!f.Skip(L)) {
            return false;
        }
        at += L;
    }
    return true;
}
