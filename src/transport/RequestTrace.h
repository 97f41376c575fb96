// What -v shows of the HTTP requests: each request's method, URL (credentials masked), status
// and time, and with a higher level libcurl's own trace, its secrets masked too.
#pragma once

#include <curl/curl.h>

#include <functional>
#include <string>

namespace http {

// Level 0 traces nothing; 1 one line per request; 2 libcurl's trace too. The sink gets whole
// lines and may be called from any thread.
void SetRequestTrace(int level, std::function<void(const std::string&)> sink);
// Installs libcurl's trace on a new handle when the level asks for it.
void TraceRequest(CURL* easy);
// curl_easy_perform, with the request's line for the trace.
CURLcode Perform(CURL* easy);

// A URL or header text with the secrets masked: the user information of a URL, the values of
// query keys that carry passwords, and Authorization header values.
std::string MaskSecrets(const std::string& text);

} // namespace http
