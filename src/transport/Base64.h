// Base64 encoding of accounts and uploads.
#pragma once

#include <string>
#include <string_view>

// RFC 4648 Base64. Base64Encode breaks its output with CR LF after every 76 characters, as the
// camera firmware tools expect; headers use Base64EncodeLine, which never breaks a line.
std::string Base64Encode(std::string_view data);
std::string Base64EncodeLine(std::string_view data);
