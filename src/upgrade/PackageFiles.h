// The firmware package steps: download, digest check, unpacking to the image file (TUpgradeOpt).
#pragma once

#include <cstdint>
#include <string>

// Moves firmware from the firmware server to a usable image file.
class TUpgradeOpt {
  public:
    static constexpr int64_t ConnectTimeout = 3000;
    static constexpr int64_t ReadTimeout = 3000;
    static constexpr long MaxRedirects = 15;
    static constexpr uint64_t MaxExtractedSize = 1ULL << 30;
    // The most a package or a firmware list may hold; a larger answer is a failed download.
    static constexpr uint64_t MaxPackageSize = 1ULL << 30;
    static constexpr uint64_t MaxListSize = 1ULL << 20;
    static constexpr const char* UserAgent = "Mozilla/4.0(compatible; MSIE 6.0; Windows 98; Maxthon)";

    // Throws std::runtime_error when Target cannot be created; every transfer failure is shown in
    // an error box and gives false. CaFile: the PEM file of a private certificate authority of an
    // https server; empty: the system's authorities.
    static bool DownloadFile(const std::string& URL, const std::string& Target,
                             uint64_t MaxBytes = MaxPackageSize, const std::string& CaFile = "");
    static bool CheckMD5(const std::string& FileName, const std::string& Expected);
    static bool CheckSHA256(const std::string& FileName, const std::string& Expected);
    // Whether Text is a digest of that many hexadecimal digits (32 MD5, 64 SHA-256).
    static bool IsHexDigest(const std::string& Text, size_t Digits);
    // Unpacks Archive into the folder of Target. Never writes outside that folder; a damaged or
    // hostile archive gives false.
    static bool UnzipFile(const std::string& Archive, const std::string& Target);
    // The lower-case hexadecimal MD5 of a file; a file that cannot be read counts as empty.
    static std::string FileMD5(const std::string& FileName);
    static std::string FileSHA256(const std::string& FileName);
};
