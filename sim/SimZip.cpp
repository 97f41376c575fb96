#include "SimZip.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace sim {

namespace {

struct TWriter {
    archive* A;
    explicit TWriter(const std::string& path, bool store) : A(archive_write_new()) {
        archive_write_set_format_zip(A);
        if (store) archive_write_set_format_option(A, "zip", "compression", "store");
        if (archive_write_open_filename(A, path.c_str()) != ARCHIVE_OK)
            throw std::runtime_error(archive_error_string(A));
    }
    ~TWriter() {
        archive_write_close(A);
        archive_write_free(A);
    }
};

struct TEntryDeleter {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

} // namespace

void WriteZip(const std::string& path, const std::vector<TZipEntry>& entries, bool store) {
    TWriter w(path, store);
    for (const TZipEntry& z : entries) {
        std::unique_ptr<archive_entry, TEntryDeleter> e(archive_entry_new());
        archive_entry_set_pathname(e.get(), z.Name.c_str());
        archive_entry_set_perm(e.get(), 0644);
        switch (z.Kind) {
        case TZipEntry::File:
            archive_entry_set_filetype(e.get(), AE_IFREG);
            archive_entry_set_size(e.get(), static_cast<la_int64_t>(z.Data.size()));
            break;
        case TZipEntry::Dir:
            archive_entry_set_filetype(e.get(), AE_IFDIR);
            archive_entry_set_perm(e.get(), 0755);
            break;
        case TZipEntry::Symlink:
            archive_entry_set_filetype(e.get(), AE_IFLNK);
            archive_entry_set_symlink(e.get(), z.LinkTarget.c_str());
            break;
        }
        if (archive_write_header(w.A, e.get()) != ARCHIVE_OK)
            throw std::runtime_error(archive_error_string(w.A));
        if (z.Kind == TZipEntry::File && !z.Data.empty())
            archive_write_data(w.A, z.Data.data(), z.Data.size());
    }
}

void WriteZipFromFile(const std::string& path, const std::string& entryName, const std::string& source) {
    int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + source);
    struct stat st {};
    fstat(fd, &st);
    TWriter w(path, false);
    std::unique_ptr<archive_entry, TEntryDeleter> e(archive_entry_new());
    archive_entry_set_pathname(e.get(), entryName.c_str());
    archive_entry_set_filetype(e.get(), AE_IFREG);
    archive_entry_set_perm(e.get(), 0644);
    archive_entry_set_size(e.get(), st.st_size);
    archive_write_header(w.A, e.get());
    std::vector<char> buf(1 << 20);
    ssize_t n;
    while ((n = read(fd, buf.data(), buf.size())) > 0)
        archive_write_data(w.A, buf.data(), static_cast<size_t>(n));
    close(fd);
}

} // namespace sim
