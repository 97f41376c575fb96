// The unpacked images kept in the private temporary folder for later sessions. An image is kept
// only when it is known to be whole and to come from the package the firmware list names: it is
// unpacked in a scratch folder of its own, renamed into place when whole, and a small record
// beside it keeps the package's digest and server folder. Sessions that prepare the same image,
// in this process or another, take turns on a lock, so one downloads and the others reuse.
#pragma once

#include "platform/Fd.h"

#include <string>

namespace imagecache {

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

// Names the program keeps for itself in the temporary folder: the firmware list, the language
// folder, locks, records, scratch folders and partial downloads. A package or image from the
// network may not take them.
bool IsOwnFileName(const std::string& name);

} // namespace imagecache
