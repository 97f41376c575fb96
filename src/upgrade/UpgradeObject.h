// The upgrade object every series derives from: one camera's account, versions and package.
#pragma once

#include "FirmwareServer.h"
#include "platform/Fd.h"
#include "transport/CameraGet.h"

#include <string>

class TIniFile;

// The value of Key in a camera's page (appver.js, the status CGI): what follows Key and the two
// characters after it ("=" and a quote), up to the next Quote; empty when no Quote follows. The
// pages of the series differ only in the quote.
std::string StatusValue(const std::string& Body, const std::string& Key, char Quote = '"');

// S up to, not including, the last occurrence of Sub (letter case ignored); empty if none.
std::string CopyBeforeLast(const std::string& Sub, const std::string& S);

// What one upgrade of one camera needs, and the steps that are the same for every series.
class TUpgradeObject {
  public:
    TUpgradeObject();
    virtual ~TUpgradeObject();
    TUpgradeObject(const TUpgradeObject&) = delete;
    TUpgradeObject& operator=(const TUpgradeObject&) = delete;

    const std::string& GetUser() const { return FUser; }
    void SetUser(const std::string& v) {
        FUser = TrimText(LowerCase(v));
        FTypedUser = TrimText(v);
    }
    const std::string& GetPassword() const { return FPassword; }
    void SetPassword(const std::string& v) {
        FPassword = TrimText(LowerCase(v));
        FTypedPassword = TrimText(v);
    }
    const std::string& GetIP() const { return FIP; }
    void SetIP(const std::string& v) { FIP = v; }
    int GetPort() const { return FPort; }
    void SetPort(int v) { FPort = v; }
    const std::string& GetCurVersion() const { return FCurVersion; }
    void SetCurVersion(const std::string& v) { FCurVersion = v; }
    const std::string& GetNewVersion() const { return FNewVersion; }
    void SetNewVersion(const std::string& v) { FNewVersion = v; }
    const std::string& GetModel() const { return FModel; }
    void SetModel(const std::string& v) { FModel = v; }
    int GetModelKeyLen() const { return FModelKeyLen; }
    void SetModelKeyLen(int v) { FModelKeyLen = v; }
    const std::string& GetOEMName() const { return FOEMName; }
    const std::string& GetFirmwareFile() const { return FFirmwareFile; }
    void SetFirmwareFile(const std::string& v) { FFirmwareFile = v; }
    const std::string& GetImagePath() const { return FImagePath; }
    // The SHA-256 the firmware list gives for the package; empty when it gives none.
    const std::string& GetSHA256() const { return FSHA256; }
    // The firmware server of this object's session, as the operator gave it (a URL or a folder);
    // empty: none, and nothing is downloaded.
    void SetFirmwareServer(const std::string& URL) { FFirmwareServer = URL; }
    // The PEM file of the firmware server's private certificate authority; empty: the system's.
    void SetCaFile(const std::string& File) { FCaFile = File; }
    // The base URL the lists and packages come from, ending with "/".
    std::string ServerBase() const;

    virtual std::string GetVersionKey() = 0;
    virtual std::string GetFileKey() = 0;
    virtual std::string GetImageFileName();
    virtual std::string GetServerFolder();
    virtual int Login();
    virtual bool ReadCurrentVersion();
    virtual void GetLatestInfo(std::string& MD5, std::string& NO, std::string& Version);
    // The entry of Section in a firmware list: the fields GetLatestInfo gives, and the digest
    // and file name this object keeps.
    void ReadLatestEntry(const TIniFile& List, const std::string& Section, std::string& MD5, std::string& NO,
                         std::string& Version);
    virtual std::string GetSectionName();
    virtual bool IsSameVersion(const std::string& Version);
    virtual bool DoUpgrade(std::string& Message);
    // The least time the camera needs after an upload before it can answer again; 0 when it
    // names none (the session then waits its own fixed time).
    virtual int64_t MinRebootWait() const { return 0; }

    int PreparePackage(const std::string& MD5);
    // The image from a file of the operator's instead of the firmware server: a ZIP as the
    // server serves it (unpacked in a folder of this session), or an image or .pk2 as it is.
    // A digest that is given must match the file. 0 ready, 1 unreadable, 2 digest mismatch,
    // 3 not unpacked.
    int PrepareLocalPackage(const std::string& File, const std::string& MD5, const std::string& SHA256);

    static constexpr int CameraTimeout = 20000;

    // "http://" + FIP + ":" + FPort, the start of every camera URL.
    std::string CameraBase() const;

  protected:
    // GET of "/appver.js" with Basic authorization.
    bool ReadAppVer(std::string& Body);

    std::string FUser;
    std::string FPassword;
    // As typed, letter case kept: standard cameras compare accounts and passwords exactly.
    std::string FTypedUser;
    std::string FTypedPassword;
    std::string FIP;
    int FPort;
    std::string FCurVersion;
    std::string FModel;
    int FModelKeyLen;
    std::string FNewVersion;
    std::string FSpare;
    std::string FOEMName;
    std::string FFirmwareFile;
    std::string FImagePath;
    std::string FFirmwareServer;
    std::string FCaFile;
    std::string FSHA256;
    // A folder of this session alone that holds its image, so that another session replacing
    // the shared image cannot change what this one uploads; removed with the object, and locked
    // while it lives, so that a folder left by a process that died is known as such.
    std::string FSessionDir;
    platform::TFd FSessionLock;

  private:
    // Replaces the session's folder with a new, empty one; false when none could be made.
    bool NewSessionDir();
    bool KeepOwnCopy(const std::string& Image);
};

class TSysUpgradeObject : public TUpgradeObject {
  public:
    std::string GetVersionKey() override { return "SysVer"; }
    std::string GetFileKey() override { return "SysFile"; }
    std::string GetServerFolder() override { return "system"; }
    bool ReadCurrentVersion() override;
};

class TUIUpgradeObject : public TUpgradeObject {
  public:
    std::string GetVersionKey() override { return "AppVer"; }
    std::string GetFileKey() override { return "AppFile"; }
    bool ReadCurrentVersion() override;
};
