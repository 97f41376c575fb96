// The one thing the transport and upgrade layers need of the language layer: the operator's text
// for a message key. The language layer defines it.
#pragma once

#include <string>

std::string MessageText(const std::string& key);
