// The INI file reader and writer of firmware lists, language files and option files.
#pragma once

#include "base/Files.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A private-profile INI file: the format of firmware lists, language files and option files.
// The whole file is read once when the object is made; values are returned as the file's bytes.
class TIniFile {
  public:
    static constexpr size_t MaxValue = 2047;

    explicit TIniFile(std::string FileName);
    // Reads the given bytes instead of a file; WriteString then still writes to FileName.
    TIniFile(std::string FileName, std::string_view Content);

    const std::string& FileName() const { return FFileName; }
    bool Exists() const { return FExists; }
    bool HasByteOrderMark() const { return FBom; }

    std::string ReadString(std::string_view Section, std::string_view Key, std::string_view Default) const;
    // The stored value, or nothing when the section or key is missing.
    std::optional<std::string> Lookup(std::string_view Section, std::string_view Key) const;
    bool SectionExists(std::string_view Section) const;
    // Names as they stand in the file, in file order; a section named twice is listed once.
    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadSection(std::string_view Section) const;

    // Replaces the key in place, or adds it (and its section) at the end; every other line stays.
    // The file is replaced atomically. False when it could not be written.
    bool WriteString(std::string_view Section, std::string_view Key, std::string_view Value);

  private:
    struct TLine {
        std::string Raw;   // the line as stored, without its line end
        int Kind = 0;      // 0 other, 1 section, 2 key
        std::string Name;  // trimmed section or key name
        std::string Value; // trimmed value (key lines)
    };
    void Parse(std::string_view content);
    // Index of the section line of the first section of that name, or -1.
    long FindSection(std::string_view Section) const;
    // [first line, end) of the section body that starts after line s.
    size_t SectionEnd(size_t s) const;

    std::string FFileName;
    bool FExists = false;
    bool FBom = false;
    std::string FEol = "\r\n";
    std::vector<TLine> FLines;
};
