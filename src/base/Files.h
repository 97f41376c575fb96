// File helpers that every layer uses; this folder includes nothing of the program above it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

using TStringList = std::vector<std::string>;

// A regular file (or a link to one) at path.
bool FileExists(const std::string& path);
// A folder (or a link to one) at path.
bool IsDir(const std::string& path);
// A regular file at path itself: a link, even to a file, is not one.
bool IsPlainFile(const std::string& path);
// Writes all n bytes to fd, going on after interruptions.
bool WriteAll(int fd, const char* data, size_t n);
bool ReadWholeFile(const std::string& Path, std::string& Content);
// Writes under a temporary name beside Path, then renames it onto Path: a failed write never
// leaves half a file.
bool WriteFileAtomically(const std::string& Path, std::string_view Content, unsigned Mode = 0644);
// The mode a new file gets from the process's umask when it asks for 0666: files that others
// are meant to read (a mirror served by a web server) follow the operator's umask.
unsigned UmaskFileMode();
// Whether a folder can be trusted with files others will take as they are (a mirror, a folder
// served as firmware server): not a link, owned by this user or root, and writable by no one
// else (as ssh judges its files). False with why set ("is a link", ...) otherwise.
bool IsTrustedFolder(const std::string& Dir, std::string& why);
// Creates Dir and every folder above it that is missing; whether Dir exists now.
bool ForceDir(const std::string& Dir);
// Empties Dir (and removes it when RemoveSelf) without ever following a link: a link is removed
// as a link, so nothing outside the folder is touched. Always true.
bool DeleteDir(const std::string& Dir, bool RemoveSelf);
// Renames from onto to, replacing whatever stands there: a file, a link (never its target) or a
// folder with its content. False (errno set) when it cannot.
bool ReplaceFile(const std::string& from, const std::string& to);
// Text cut at every Separator, the pieces (empty ones too) appended to List; with no separator,
// Text whole.
void SplitText(const std::string& Text, const std::string& Separator, TStringList& List);
// The files (folders left out) of Dir whose names match one of Masks (separated by ";" or "|",
// letter case ignored), appended to List mask by mask; NoDuplicates skips paths List holds.
void FindFiles(TStringList& List, const std::string& Dir, const std::string& Masks, bool NoDuplicates);

// The program's folders, each ending with '/'.
// This process's private temporary folder; a message box, then TPlatformError, when there is none.
std::string TempDir();
// The folder of the running program.
std::string AppPath();
// The user's roaming data folder; empty when there is none.
std::string RoamingDir(bool Create);
// The program's own folder in it, named after the program.
std::string UserDataDir(bool Create);
