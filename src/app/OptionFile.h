// The option file in its two layers, the default language, and the single-instance check.
#pragma once

#include "lang/IniFile.h"

#include <functional>
#include <optional>
#include <string>

class TOptionFile {
  public:
    // Reads FileName from the program's folder (never written) and from the user's folder.
    explicit TOptionFile(const std::string& FileName);
    std::string ReadOption(const std::string& Section, const std::string& Key,
                           const std::string& Default) const;
    // Writes the user layer only; a failure is swallowed (the setting is simply not kept).
    void WriteOption(const std::string& Section, const std::string& Key, const std::string& Value);

    const std::string& UserFileName() const { return FUserIni.FileName(); }

  private:
    std::optional<TIniFile> FDefaultIni;
    TIniFile FUserIni;
};

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
