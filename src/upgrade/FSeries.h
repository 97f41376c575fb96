// The F series: the status page's versions and the multipart upload with the account in the query.
#pragma once

#include "transport/MultipartUpload.h"
#include "UpgradeObject.h"

#include <string>

// The F series: versions in "/get_status.cgi", the image POSTed with the account in the query.
class TFSYSUpgrade : public TSysUpgradeObject {
  public:
    TFSYSUpgrade() { FModelKeyLen = 0; }
    bool ReadCurrentVersion() override;
    bool DoUpgrade(std::string& Message) override;
};

class TFUIUpgrade : public TUIUpgradeObject {
  public:
    TFUIUpgrade() { FModelKeyLen = 0; }
    bool ReadCurrentVersion() override;
    bool DoUpgrade(std::string& Message) override;
};

namespace fseries {
constexpr unsigned char SystemSignature[4] = {0x42, 0x4E, 0x45, 0x47};
constexpr unsigned char UISignature[4] = {0xBD, 0x9A, 0x0C, 0x44};
constexpr int64_t UploadTimeout = 60000;
// Reads the F status page into the version field; shared by both kinds.
bool ReadStatusVersion(TUpgradeObject& U, const std::string& Key, std::string& Version);
// The F upload of one kind: Cgi is "/upgrade_firmware.cgi" or "/upgrade_htmls.cgi".
bool Upload(TUpgradeObject& U, const std::string& Cgi, const unsigned char* Signature, std::string& Message);
// The session's message for an upload: the success text, or the failure text followed by the
// status line or the client's error text. True when the camera took the image.
bool Outcome(const TUploadResult& Result, std::string& Message);
// The first four bytes of the image; false (and nothing read) when it has fewer. Throws when
// the file cannot be opened.
bool ReadImageHead(const std::string& Path, unsigned char Head[4]);
} // namespace fseries
