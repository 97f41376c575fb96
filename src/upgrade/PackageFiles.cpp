#include "PackageFiles.h"

#include "base/Files.h"
#include "base/Progress.h"
#include "platform/Fd.h"
#include "platform/Platform.h"
#include "transport/CameraGet.h"
#include "transport/HttpClient.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using platform::TFd;

struct TSink {
    int Fd;
    CURL* Easy;
    uint64_t Max;
    uint64_t Written = 0;
    bool Failed = false;
    bool TooLarge = false;
};

size_t ToFile(char* data, size_t size, size_t n, void* user) {
    auto* sink = static_cast<TSink*>(user);
    sink->Written += size * n;
    if (sink->Written > sink->Max) {
        sink->TooLarge = true;
        return 0;
    }
    curl_off_t total = -1;
    curl_easy_getinfo(sink->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
    progress::Report(progress::TStage::Download, static_cast<int64_t>(sink->Written), total);
    if (!WriteAll(sink->Fd, data, size * n)) {
        sink->Failed = true;
        return 0;
    }
    return size * n;
}

struct TArchiveDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct TMdDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// The archive name split at '/' (and '\', which archives made on other systems use), with
// absolute names, empty names and ".." refused.
bool SplitEntryName(const char* raw, std::vector<std::string>& parts) {
    parts.clear();
    if (!raw || !*raw || raw[0] == '/' || raw[0] == '\\') return false;
    std::string cur;
    for (const char* p = raw;; ++p) {
        if (*p == '/' || *p == '\\' || *p == '\0') {
            if (cur == "..") return false;
            if (!cur.empty() && cur != ".") parts.push_back(cur);
            cur.clear();
            if (*p == '\0') break;
        } else {
            cur += *p;
        }
    }
    return !parts.empty();
}

// Makes (or enters) one folder below dirfd without following a link planted there.
int EnterDir(int dirfd, const std::string& name) {
    if (mkdirat(dirfd, name.c_str(), 0755) != 0 && errno != EEXIST) return -1;
    return openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

bool TUpgradeOpt::DownloadFile(const std::string& URL, const std::string& Target, uint64_t MaxBytes,
                               const std::string& CaFile) {
    // Written under a fresh name beside Target and renamed onto it, so that a link planted at
    // Target is replaced, never followed, and a reader never sees a file that is still growing.
    auto slash = Target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : Target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? Target : Target.substr(slash + 1);
    std::string temp = folder + "." + base + ".part-XXXXXX";
    platform::TFd out(mkostemp(temp.data(), O_CLOEXEC));
    if (!out.Valid())
        throw std::runtime_error("Cannot create file \"" + Target + "\". " + std::strerror(errno));
    // mkostemp makes it private; a mirror is meant to be served, so the umask decides.
    if (fchmod(out.Get(), UmaskFileMode()) != 0)
        throw std::runtime_error("Cannot create file \"" + Target + "\". " + std::strerror(errno));
    std::string error;
    char err[CURL_ERROR_SIZE];
    http::TEasy easy = http::NewRequest(URL, err, ConnectTimeout);
    if (!easy) {
        error = http::IsSafeTarget(URL) ? "Out of memory." : "Invalid URL.";
    } else {
        CURL* c = easy.get();
        TSink sink{out.Get(), c, MaxBytes};
        curl_easy_setopt(c, CURLOPT_USERAGENT, UserAgent);
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(c, CURLOPT_MAXREDIRS, MaxRedirects);
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024);
        curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxBytes));
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &ToFile);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
        // A local folder may serve as the firmware server; a redirect still never leads to a file.
        if (URL.rfind("file://", 0) == 0) curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "file");
        if (!CaFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, CaFile.c_str());
        http::TStallGuard guard(c, platform::Timeout(ReadTimeout));
        CURLcode rc = http::Perform(c);
        if (sink.TooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
            // Refused as a whole: nothing of an answer past the bound is kept or read.
            error = http::ErrorText(CURLE_FILESIZE_EXCEEDED, nullptr);
            if (ftruncate(out.Get(), 0) != 0) error += " " + std::string(std::strerror(errno));
        } else if (sink.Failed)
            error = std::string("Cannot write file \"") + Target + "\". " + std::strerror(errno);
        else if (rc != CURLE_OK)
            error = http::ErrorText(rc, err, &guard);
    }
    out.Reset();
    // Target keeps what was written, whole or not, as the caller expects to find it.
    if (!ReplaceFile(temp, Target)) {
        int saved = errno;
        unlink(temp.c_str());
        throw std::runtime_error("Cannot create file \"" + Target + "\". " + std::strerror(saved));
    }
    if (error.empty()) return true;
    platform::MessageBox(error, "错误", platform::MB_ICONERROR);
    return false;
}

namespace {

std::string FileDigest(const std::string& FileName, const EVP_MD* kind) {
    std::unique_ptr<EVP_MD_CTX, TMdDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), kind, nullptr) != 1) return {};
    TFd in(open(FileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() >= 0) {
        posix_fadvise(in.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        std::vector<char> buf(64 * 1024);
        for (;;) {
            ssize_t n = platform::ReadSome(in.Get(), buf.data(), buf.size());
            if (n < 0) {
                // A file that cannot be read counts as empty, as one that cannot be opened does.
                EVP_DigestInit_ex(ctx.get(), kind, nullptr);
                break;
            }
            if (n == 0) break;
            EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<size_t>(n));
        }
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx.get(), md, &len);
    return HexText(md, len);
}

} // namespace

std::string TUpgradeOpt::FileMD5(const std::string& FileName) {
    return FileDigest(FileName, EVP_md5());
}

std::string TUpgradeOpt::FileSHA256(const std::string& FileName) {
    return FileDigest(FileName, EVP_sha256());
}

bool TUpgradeOpt::CheckMD5(const std::string& FileName, const std::string& Expected) {
    return FileMD5(FileName) == LowerCase(Expected);
}

bool TUpgradeOpt::CheckSHA256(const std::string& FileName, const std::string& Expected) {
    return FileSHA256(FileName) == LowerCase(Expected);
}

bool TUpgradeOpt::IsHexDigest(const std::string& Text, size_t Digits) {
    return Text.size() == Digits && Text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

bool TUpgradeOpt::UnzipFile(const std::string& Archive, const std::string& Target) {
    if (FileExists(Target)) unlink(Target.c_str());
    auto slash = Target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : Target.substr(0, slash + 1);
    TFd root(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.Get() < 0) return false;

    std::unique_ptr<archive, TArchiveDeleter> a(archive_read_new());
    if (!a) return false;
    archive_read_support_format_zip(a.get());
    if (archive_read_open_filename(a.get(), Archive.c_str(), 256 * 1024) != ARCHIVE_OK) return false;

    bool ok = true;
    uint64_t total = 0;
    std::vector<std::string> parts;
    archive_entry* e = nullptr;
    int rc = ARCHIVE_OK;
    while (ok && ((rc = archive_read_next_header(a.get(), &e)) == ARCHIVE_OK || rc == ARCHIVE_WARN)) {
        mode_t type = archive_entry_filetype(e);
        if (!SplitEntryName(archive_entry_pathname(e), parts) || (type != AE_IFREG && type != AE_IFDIR) ||
            archive_entry_hardlink(e) != nullptr || archive_entry_symlink(e) != nullptr) {
            ok = false;
            break;
        }
        // Walk down to the entry's folder one component at a time, refusing planted links.
        TFd at(dup(root.Get()));
        size_t folders = type == AE_IFDIR ? parts.size() : parts.size() - 1;
        for (size_t i = 0; i < folders && at.Valid(); ++i)
            at = TFd(EnterDir(at.Get(), parts[i]));
        if (!at.Valid()) {
            ok = false;
            break;
        }
        int dir = at.Get();
        if (type == AE_IFDIR) continue;
        const std::string& name = parts.back();
        unlinkat(dir, name.c_str(), 0);
        TFd out(openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (out.Get() < 0) {
            ok = false;
            break;
        }
        const void* buf;
        size_t size;
        la_int64_t offset;
        int64_t written = 0;
        while ((rc = archive_read_data_block(a.get(), &buf, &size, &offset)) == ARCHIVE_OK) {
            total += size;
            if (total > MaxExtractedSize) {
                ok = false;
                break;
            }
            // Sparse entries arrive with gaps; keep the file's layout by seeking over them.
            if (offset != written && lseek(out.Get(), offset, SEEK_SET) < 0) {
                ok = false;
                break;
            }
            if (!WriteAll(out.Get(), static_cast<const char*>(buf), size)) {
                ok = false;
                break;
            }
            written = offset + static_cast<int64_t>(size);
        }
        if (ok && rc != ARCHIVE_EOF) ok = false;
        if (ok && ftruncate(out.Get(), written) != 0) ok = false;
    }
    if (ok && rc != ARCHIVE_EOF) ok = false;
    // A refused or damaged archive yields no image, even if the image itself came out whole.
    if (!ok) {
        unlink(Target.c_str());
        return false;
    }
    return FileExists(Target);
}
