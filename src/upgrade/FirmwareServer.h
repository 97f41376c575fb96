// The firmware server: its address as the operator gives it, its lists, and the names they may hold.
#pragma once

#include <string>

// The base URL of the firmware server Given (a URL or a folder), ending with "/"; with none
// given, a built-in address that never resolves.
std::string FirmwareServerBase(const std::string& Given);
// A firmware server as the operator gives it: a URL as it is, a local folder (a plain path)
// as a file:// URL, so that sites without Internet can serve a copy of the tree from disk.
std::string FirmwareServerURL(const std::string& Given);

// Sessions of one process that read the same firmware list read it once: the first downloads,
// the others wait for it and get a copy. Off by default, so that every session of the desktop
// tool asks the server afresh.
void ShareFirmwareLists(bool On);

// A package name from a firmware list becomes a local file name and part of a URL: anything
// that could leave its folder, take one of the program's own files or break the request is
// refused.
bool IsSafePackageName(const std::string& name);

// The server's folder for a list, as a camera may name it: false when it would step out of the
// server's tree or, for a local folder, out of that folder.
bool IsSafeServerFolder(const std::string& folder, const std::string& base);
// A local folder (a file:// base) is trusted only as a mirror is, each folder from the base
// down to the list's; false (after a message box with the reason) when one is not. Any other
// server is trusted.
bool LocalServerTrusted(const std::string& base, const std::string& folder);
// The list at url into target, at most the list's size (CaFile as TUpgradeOpt::DownloadFile
// takes it); with ShareFirmwareLists on, sessions asking for the same list take turns and only
// the first downloads.
void FetchFirmwareList(const std::string& url, const std::string& target, const std::string& CaFile);
