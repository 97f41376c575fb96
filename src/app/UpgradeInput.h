// The main window's input checks, shared by the window and the command line.
#pragma once

#include <string>

// The port as the main window reads it: text that is no integer reads as 0.
int PortNumber(const std::string& text);
// The message key of the first check that fails (series, account, address, port), or null.
const char* FailedInputCheck(int series, const std::string& user, const std::string& ip, int port);
