// The option file in its layers, the language at start, the default language, and the
// single-instance check.
#pragma once

#include "lang/IniFile.h"

#include <functional>
#include <optional>
#include <string>

// Every front end reads the same layers, the first that holds a key winning: the user's file in
// $XDG_CONFIG_HOME/ipcam-upgrade/, the administrator's in /etc/ipcam-upgrade/, then the one in
// the program's folder. Only the user's is ever written.
class TOptionFile {
  public:
    explicit TOptionFile(const std::string& FileName);
    std::string ReadOption(const std::string& Section, const std::string& Key,
                           const std::string& Default) const;
    // Writes the user layer only; a failure is swallowed (the setting is simply not kept).
    void WriteOption(const std::string& Section, const std::string& Key, const std::string& Value);

    const std::string& UserFileName() const { return FUserIni.FileName(); }

  private:
    std::optional<TIniFile> FDefaultIni;
    std::optional<TIniFile> FSystemIni;
    TIniFile FUserIni;
};

// The user's settings folder shared by every front end, ending with '/'.
std::string UserOptionDir();
// The administrator's settings folder, ending with '/'; tests point it elsewhere.
std::string SystemOptionDir();
void SetSystemOptionDir(const std::string& dir);

// The language a front end starts in: [Global] lan when set (even one whose file is missing,
// which then shows the texts' keys' fallbacks, as the window always did); otherwise the code
// page's language when its file exists, else "en".
std::string StartLanguage(const TOptionFile& options);

// The image cache's limits from [Cache] MaxImages and MaxMegabytes (0: no limit of that kind);
// a value that is no number keeps the default.
void ApplyCacheOptions(const TOptionFile& options);

std::string DefaultLangFromCodePage();
std::string DefaultLangFromCodePage(int codePage);

// Replaces the first "%s" of a language text by the argument; "%%" stands for "%". Nothing else
// of the text is interpreted, so a translated text can never misuse its argument.
std::string FormatLangText(const std::string& text, const std::string& argument);

// True when this is the only running instance. Otherwise the warning box is shown, the hook is
// asked to bring the running instance's window forward, and the result is false.
bool CheckSingleInstance(const std::string& Caption);
void SetRaiseRunningInstanceHook(std::function<void(const std::string& Caption)> hook);
// The guard's name, shared by every front end of the program.
inline constexpr const char* SingleInstanceName = "IP Camera Upgradesoft";
