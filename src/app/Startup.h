// The start-up both front ends share: library object, languages, option file settings.
#pragma once

#include "OptionFile.h"

#include <memory>
#include <string>
#include <vector>

class TfrmStrRes;

// Each step is its own call, so that a front end takes them in its own designed order; what a
// step set up is released when the object goes, the device-control library object last.
class TStartup {
  public:
    TStartup();
    ~TStartup();
    TStartup(const TStartup&) = delete;
    TStartup& operator=(const TStartup&) = delete;

    // The process-wide device-control library object.
    void LoadDeviceControlLibrary();
    // The stored languages, unpacked for this process (the language files' folder).
    void OpenLanguageStore();
    // The start language by the one rule of every front end (see StartLanguage).
    void ChooseStartLanguage();
    // A language asked for by a code as people write it ("ja", "ja_JP.UTF-8", "jp"); false,
    // with English chosen, when no language file has that code.
    bool ChooseLanguage(const std::string& Requested);
    // The image cache's limits from the option file.
    void ApplyCacheLimits();

    const TOptionFile& Options() const { return FOptions; }
    TOptionFile& Options() { return FOptions; }

    // The firmware server a session uses: Given when set, else IPCAM_FIRMWARE_SERVER, else the
    // option file's [Global] FirmwareServer; empty when none is set anywhere.
    std::string FirmwareServer(const std::string& Given = "") const;
    // The language files of the language folder that name the current language, for a list to
    // choose from.
    std::vector<std::string> LanguageFiles() const;
    // The codes of the language files, as their names spell them, sorted.
    static std::vector<std::string> LanguageCodes();

  private:
    TOptionFile FOptions;
    std::unique_ptr<TfrmStrRes> FStore;
    bool FLibrary = false;
};

// The code of a stored language for a code as people write it: "ja", "ja_JP.UTF-8" and "jp"
// give "jp", "zh_TW" gives "b5". A code it does not know is returned as given.
std::string LanguageCode(const std::string& given);
