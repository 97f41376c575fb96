// The unpacked images kept for later sessions, in the user's cache folder
// ($XDG_CACHE_HOME/ipcam-upgrade/), pruned to the newest images within a count and a size. An image is kept
// only when it is known to be whole and to come from the package the firmware list names: it is
// unpacked in a scratch folder of its own, renamed into place when whole, and a small record
// beside it keeps the package's digest and server folder. Sessions that prepare the same image,
// in this process or another, take turns on a lock, so one downloads and the others reuse.
#pragma once

#include "platform/Fd.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace imagecache {

// The cache folder, ending with '/': the one set, else $XDG_CACHE_HOME/ipcam-upgrade/ (made
// with mode 0700). A folder that is a link, belongs to another user or is open to others is not
// used; the private work folder serves then. Empty only when neither can be had.
std::string CacheDir();
// Another cache folder for this process (--cache-dir); empty restores the default.
void SetCacheDir(const std::string& dir);

// How many images the cache keeps, and how many bytes in all (0: no limit of that kind).
struct TLimits {
    size_t MaxImages = 8;
    uint64_t MaxBytes = uint64_t{2} << 30;
};
void SetLimits(const TLimits& limits);
TLimits Limits();

struct TCachedImage {
    std::string Path, MD5, Folder;
    uint64_t Size = 0;
    std::time_t LastUsed = 0; // when it was installed or last reused
};
// The verified images in dir, the most recently used first.
std::vector<TCachedImage> List(const std::string& dir);
// Notes that a session reuses the image, so pruning keeps it longest.
void Used(const std::string& imagePath);
// Removes the least recently used images of dir beyond the limits, never keep, never one this
// process installed or reused (a batch still needs them), never one that a session is preparing
// (its lock is held).
void Prune(const std::string& dir, const TLimits& limits, const std::string& keep = "");
// A new run: what this process installed or reused so far may be pruned again.
void ClearInUse();
// Removes every image of dir with its record, and what failed sessions left (scratch folders,
// partial downloads), skipping images being prepared. The number of images removed.
size_t Clean(const std::string& dir);

// Held while one image is prepared; the kernel lets go of it if the process dies.
class TImageLock {
  public:
    explicit TImageLock(const std::string& imagePath);
    bool Held() const { return FFd.Valid(); }

  private:
    platform::TFd FFd;
};

// The record's path for an image.
std::string RecordPath(const std::string& imagePath);
// The scratch folder an image's package is unpacked in (ending with '/').
std::string ScratchDir(const std::string& imagePath);
// True when a plain file stands at imagePath and its record names these digests (letter case
// ignored; the SHA-256 only where the list gives one), this server folder and the image's size.
bool IsVerified(const std::string& imagePath, const std::string& md5, const std::string& folder,
                const std::string& sha256 = "");
// Takes the record away, so that nothing counts as verified while the image is replaced.
void Forget(const std::string& imagePath);
// Moves the unpacked image onto imagePath (replacing whatever stands there) and writes its record.
bool Install(const std::string& unpacked, const std::string& imagePath, const std::string& md5,
             const std::string& folder, const std::string& sha256 = "");

// Copies a cached image to a new file (mode 0600) that no link stands at.
bool CopyImage(const std::string& from, const std::string& to);

// Names the program keeps for itself in the temporary folder: the firmware list, the language
// folder, locks, records, scratch folders and partial downloads. A package or image from the
// network may not take them.
bool IsOwnFileName(const std::string& name);

} // namespace imagecache
