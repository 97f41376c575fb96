#include "MultipartUpload.h"

#include "HttpClient.h"
#include "platform/Platform.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <vector>

TMultipartBody::TMultipartBody(const std::string& FilePath, const std::string& FormFileName,
                               const std::string& PartContentType)
    : FBoundary(MakeBoundary()) {
    FFd = open(FilePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0) throw std::runtime_error("Cannot open file \"" + FilePath + "\". " + std::strerror(errno));
    struct stat st {};
    fstat(FFd, &st);
    FFileSize = static_cast<uint64_t>(st.st_size);
    FHead = "--" + FBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
            FormFileName + "\"\r\nContent-Type: " + PartContentType +
            "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
    FTail = "\r\n--" + FBoundary + "--\r\n";
}

TMultipartBody::~TMultipartBody() {
    if (FFd >= 0) close(FFd);
}

std::string TMultipartBody::MakeBoundary() {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d%03d", tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return std::string("--------") + buf;
}

size_t TMultipartBody::Read(char* buf, size_t n, bool& failed) {
    size_t out = 0;
    while (out < n) {
        if (FSent < FHead.size()) {
            size_t k = std::min<uint64_t>(n - out, FHead.size() - FSent);
            std::memcpy(buf + out, FHead.data() + FSent, k);
            FSent += k;
            out += k;
        } else if (FSent < FHead.size() + FFileSize) {
            uint64_t left = FHead.size() + FFileSize - FSent;
            ssize_t r = read(FFd, buf + out, static_cast<size_t>(std::min<uint64_t>(n - out, left)));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                // A file that shrank or cannot be read: the announced length can no longer be kept.
                failed = true;
                return out;
            }
            FSent += static_cast<uint64_t>(r);
            out += static_cast<size_t>(r);
        } else if (FSent < Length()) {
            uint64_t at = FSent - FHead.size() - FFileSize;
            size_t k = std::min<uint64_t>(n - out, FTail.size() - at);
            std::memcpy(buf + out, FTail.data() + at, k);
            FSent += k;
            out += k;
        } else {
            break;
        }
    }
    return out;
}

namespace {

using TClock = std::chrono::steady_clock;

// Waits until the socket can be read (or written) or limitMs pass; false on time-out.
bool WaitSocket(curl_socket_t fd, bool forWrite, int64_t limitMs) {
    pollfd p{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    auto end = TClock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
        if (left <= 0) return false;
        int r = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

bool SendAll(CURL* c, curl_socket_t fd, const char* p, size_t n, int64_t limitMs, std::string& error) {
    while (n > 0) {
        size_t sent = 0;
        CURLcode rc = curl_easy_send(c, p, n, &sent);
        if (rc == CURLE_AGAIN) {
            if (!WaitSocket(fd, true, limitMs)) {
                error = "Write timed out.";
                return false;
            }
            continue;
        }
        if (rc != CURLE_OK) {
            error = curl_easy_strerror(rc);
            return false;
        }
        p += sent;
        n -= sent;
    }
    return true;
}

// One read; 0 at the end of the stream; -1 on a time-out or an error (with the text set).
ssize_t Receive(CURL* c, curl_socket_t fd, char* buf, size_t n, int64_t limitMs, std::string& error) {
    for (;;) {
        size_t got = 0;
        CURLcode rc = curl_easy_recv(c, buf, n, &got);
        if (rc == CURLE_OK) return static_cast<ssize_t>(got);
        if (rc != CURLE_AGAIN) {
            error = curl_easy_strerror(rc);
            return -1;
        }
        if (!WaitSocket(fd, false, limitMs)) {
            error = "Read timed out.";
            return -1;
        }
    }
}

} // namespace

std::vector<std::pair<std::string, std::string>>
UploadHeaders(const TMultipartBody& Body, const std::string& HostLine, bool BrowserLike) {
    std::vector<std::pair<std::string, std::string>> h = {
        {"Connection", "keep-alive"},
        {"Content-Type", "multipart/form-data; boundary=" + Body.Boundary()},
        {"Content-Length", std::to_string(Body.Length())},
        {"Host", HostLine},
        {"Accept", BrowserLike
                       ? "image/gif, image/jpeg, image/pjpeg, image/pjpeg, application/x-shockwave-flash, */*"
                       : "text/html, */*"}};
    if (BrowserLike) h.emplace_back("Accept-Encoding", "gzip,deflate");
    h.emplace_back("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
    return h;
}

std::string HostWithPort(const std::string& ip, int port) {
    return port == 80 ? ip : ip + ":" + std::to_string(port);
}

TUploadResult PostMultipart(const std::string& Host, int Port, const std::string& Target,
                            const std::vector<std::pair<std::string, std::string>>& Headers,
                            TMultipartBody& Body, int64_t ConnectMs, int64_t ReadMs) {
    TUploadResult result;
    // The request is written here byte for byte; libcurl only makes the connection, so no
    // header of its own can slip in or change the order.
    std::string head = "POST " + Target + " HTTP/1.0\r\n";
    bool safe =
        http::IsSafeTarget(Target) && Target.find(' ') == std::string::npos && http::IsSafeTarget(Host);
    for (const auto& [name, value] : Headers) {
        safe = safe && http::IsSafeHeaderValue(name) && http::IsSafeHeaderValue(value);
        head += name + ": " + value + "\r\n";
    }
    head += "\r\n";
    if (!safe) {
        result.Error = "Invalid request.";
        return result;
    }
    http::TEasy easy = http::NewEasy();
    if (!easy) {
        result.Error = "Out of memory.";
        return result;
    }
    CURL* c = easy.get();
    char err[CURL_ERROR_SIZE] = {};
    std::string url = "http://" + Host + ":" + std::to_string(Port) + "/";
    int64_t readLimit = platform::Timeout(ReadMs);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, err);
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(platform::Timeout(ConnectMs)));
    CURLcode rc = curl_easy_perform(c);
    if (rc != CURLE_OK) {
        result.Error = http::ErrorText(rc, err);
        return result;
    }
    curl_socket_t fd = CURL_SOCKET_BAD;
    curl_easy_getinfo(c, CURLINFO_ACTIVESOCKET, &fd);
    if (!SendAll(c, fd, head.data(), head.size(), readLimit, result.Error)) return result;
    std::vector<char> buf(256 * 1024);
    for (;;) {
        bool failed = false;
        size_t n = Body.Read(buf.data(), buf.size(), failed);
        if (failed) {
            result.Error = "Cannot read the image file.";
            return result;
        }
        if (n == 0) break;
        if (!SendAll(c, fd, buf.data(), n, readLimit, result.Error)) return result;
    }

    // The answer: interim 1xx heads are skipped; the body of the real one is read and dropped.
    std::string in;
    bool location = false;
    int64_t bodyLeft = -1;
    for (;;) {
        size_t end;
        while ((end = in.find("\r\n\r\n")) == std::string::npos) {
            if (in.size() > 65536) {
                result.Error = "The answer's head is too long.";
                return result;
            }
            ssize_t n = Receive(c, fd, buf.data(), buf.size(), readLimit, result.Error);
            if (n <= 0) {
                if (n == 0) result.Error = "The connection was closed before an answer came.";
                return result;
            }
            in.append(buf.data(), static_cast<size_t>(n));
        }
        std::string answer = in.substr(0, end + 2);
        in.erase(0, end + 4);
        result.StatusLine = answer.substr(0, answer.find("\r\n"));
        result.Status = 0;
        if (result.StatusLine.compare(0, 5, "HTTP/") == 0) {
            size_t sp = result.StatusLine.find(' ');
            if (sp != std::string::npos)
                result.Status = std::strtol(result.StatusLine.c_str() + sp + 1, nullptr, 10);
        }
        if (result.Status >= 100 && result.Status <= 199) continue;
        location = false;
        for (size_t p = answer.find("\r\n"); p != std::string::npos && p + 2 < answer.size();
             p = answer.find("\r\n", p + 2)) {
            const char* line = answer.c_str() + p + 2;
            if (strncasecmp(line, "Location:", 9) == 0) location = true;
            if (strncasecmp(line, "Content-Length:", 15) == 0)
                bodyLeft = std::strtoll(line + 15, nullptr, 10);
        }
        break;
    }
    if (bodyLeft >= 0)
        bodyLeft -= static_cast<int64_t>(std::min<size_t>(in.size(), static_cast<size_t>(bodyLeft)));
    while (bodyLeft != 0) {
        std::string error;
        ssize_t n = Receive(c, fd, buf.data(), buf.size(), readLimit, error);
        if (n == 0) break;
        if (n < 0) {
            // Without a length the answer ends when the camera stops sending; with one, a
            // short body is a broken exchange.
            if (bodyLeft > 0) {
                result.Error = error;
                return result;
            }
            break;
        }
        if (bodyLeft > 0) bodyLeft -= std::min<int64_t>(bodyLeft, n);
    }
    result.Accepted = result.Status >= 200 && result.Status <= 299 && !location;
    if (!result.Accepted) result.Error = result.StatusLine;
    return result;
}
