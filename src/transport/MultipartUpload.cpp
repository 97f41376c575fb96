#include "MultipartUpload.h"

#include "HttpClient.h"
#include "base/Progress.h"
#include "platform/Fd.h"
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
    FFd.Reset(open(FilePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!FFd.Valid())
        throw std::runtime_error("Cannot open file \"" + FilePath + "\". " + std::strerror(errno));
    struct stat st {};
    fstat(FFd.Get(), &st);
    FFileSize = static_cast<uint64_t>(st.st_size);
    FHead = "--" + FBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
            FormName(FormFileName) + "\"\r\nContent-Type: " + PartContentType +
            "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
    FTail = "\r\n--" + FBoundary + "--\r\n";
}

std::string TMultipartBody::FormName(const std::string& Path) {
    // The camera needs a name, not where this machine keeps the file; a quote, a backslash or a
    // line end would end the parameter or the head line.
    std::string name = Path.substr(Path.rfind('/') + 1);
    for (char& c : name)
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    return name;
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
            ssize_t r = platform::ReadSome(FFd.Get(), buf + out,
                                           static_cast<size_t>(std::min<uint64_t>(n - out, left)));
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

bool SendAll(CURL* c, curl_socket_t fd, const char* p, size_t n, int64_t limitMs, std::string& error) {
    while (n > 0) {
        size_t sent = 0;
        CURLcode rc = curl_easy_send(c, p, n, &sent);
        if (rc == CURLE_AGAIN) {
            if (platform::WaitFd(fd, POLLOUT, limitMs) <= 0) {
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

// One read; 0 at the end of the stream; -1 on a time-out, an error or the end of the answer's
// time (with the text set).
ssize_t Receive(CURL* c, curl_socket_t fd, char* buf, size_t n, int64_t limitMs, TClock::time_point deadline,
                std::string& error) {
    for (;;) {
        size_t got = 0;
        CURLcode rc = curl_easy_recv(c, buf, n, &got);
        if (rc == CURLE_OK) return static_cast<ssize_t>(got);
        if (rc != CURLE_AGAIN) {
            error = curl_easy_strerror(rc);
            return -1;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0 || platform::WaitFd(fd, POLLIN, std::min<int64_t>(limitMs, left)) <= 0) {
            error = "Read timed out.";
            return -1;
        }
    }
}

} // namespace

bool ParseAnswerHead(const std::string& head, TAnswerHead& out) {
    out = TAnswerHead();
    size_t eol = head.find("\r\n");
    out.StatusLine = head.substr(0, eol);
    if (out.StatusLine.compare(0, 5, "HTTP/") != 0) return false;
    size_t sp = out.StatusLine.find(' ');
    if (sp == std::string::npos) return false;
    const char* code = out.StatusLine.c_str() + sp + 1;
    if (code[0] < '0' || code[0] > '9') return false;
    out.Status = std::strtol(code, nullptr, 10);
    for (size_t p = eol; p != std::string::npos && p + 2 < head.size(); p = head.find("\r\n", p + 2)) {
        const char* line = head.c_str() + p + 2;
        if (strncasecmp(line, "Location:", 9) == 0) out.Location = true;
        if (strncasecmp(line, "Content-Length:", 15) == 0) {
            char* end = nullptr;
            const char* v = line + 15;
            while (*v == ' ' || *v == '\t')
                ++v;
            errno = 0;
            long long n = std::strtoll(v, &end, 10);
            if (end == v || n < 0 || errno == ERANGE) return false;
            out.ContentLength = n;
        }
    }
    return true;
}

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

namespace {

// The request's head, written here byte for byte; false when a part of it could end a line or
// the request early.
bool RequestHead(const std::string& Host, const std::string& Target,
                 const std::vector<std::pair<std::string, std::string>>& Headers, std::string& head) {
    head = "POST " + Target + " HTTP/1.0\r\n";
    bool safe =
        http::IsSafeTarget(Target) && Target.find(' ') == std::string::npos && http::IsSafeTarget(Host);
    for (const auto& [name, value] : Headers) {
        safe = safe && http::IsSafeHeaderValue(name) && http::IsSafeHeaderValue(value);
        head += name + ": " + value + "\r\n";
    }
    head += "\r\n";
    return safe;
}

// The body, with progress reports; false (with the error set) when it cannot all go out.
bool SendBody(CURL* c, curl_socket_t fd, TMultipartBody& Body, std::vector<char>& buf, int64_t readLimit,
              std::string& error) {
    http::TStallGuard::TCrawlMeter crawl;
    uint64_t sent = 0;
    for (;;) {
        bool failed = false;
        size_t n = Body.Read(buf.data(), buf.size(), failed);
        if (failed) {
            error = "Cannot read the image file.";
            return false;
        }
        if (n == 0) return true;
        if (!SendAll(c, fd, buf.data(), n, readLimit, error)) return false;
        sent += n;
        progress::Report(progress::TStage::Upload, static_cast<int64_t>(sent),
                         static_cast<int64_t>(Body.Length()));
        if (!crawl.Moved(sent, TClock::now())) {
            error = "The transfer is too slow.";
            return false;
        }
    }
}

// The answer: interim 1xx heads are skipped; the body of the real one is read and dropped.
// A camera may take its time to flash before it answers, but the answer as a whole, the
// interim heads and the body have their bounds.
void ReadAnswer(CURL* c, curl_socket_t fd, std::vector<char>& buf, int64_t readLimit, TUploadResult& result) {
    auto deadline = TClock::now() + std::chrono::milliseconds(platform::Timeout(AnswerTimeLimit));
    std::string in;
    TAnswerHead answer;
    for (int interim = 0;; ++interim) {
        if (interim > MaxInterimAnswers) {
            result.Error = "Too many interim answers.";
            return;
        }
        size_t end;
        while ((end = in.find("\r\n\r\n")) == std::string::npos) {
            if (in.size() > 65536) {
                result.Error = "The answer's head is too long.";
                return;
            }
            ssize_t n = Receive(c, fd, buf.data(), buf.size(), readLimit, deadline, result.Error);
            if (n <= 0) {
                if (n == 0) result.Error = "The connection was closed before an answer came.";
                return;
            }
            in.append(buf.data(), static_cast<size_t>(n));
        }
        ParseAnswerHead(in.substr(0, end + 2), answer);
        in.erase(0, end + 4);
        result.StatusLine = answer.StatusLine;
        result.Status = answer.Status;
        if (answer.Status < 100 || answer.Status > 199) break;
    }
    int64_t bodyLeft = answer.ContentLength;
    uint64_t bodyRead = in.size();
    if (bodyLeft >= 0) bodyLeft -= std::min<int64_t>(static_cast<int64_t>(in.size()), bodyLeft);
    while (bodyLeft != 0) {
        std::string error;
        ssize_t n = Receive(c, fd, buf.data(), buf.size(), readLimit, deadline, error);
        if (n == 0 && bodyLeft < 0) break; // without a length the answer ends when the camera closes
        if (n <= 0) {
            // Cut off: closed before its length, reset or silent. Whether the camera took the
            // image cannot be told, so it is not reported as taken.
            result.Error = n == 0 ? "The connection was closed before the answer was complete." : error;
            return;
        }
        bodyRead += static_cast<uint64_t>(n);
        if (bodyRead > MaxAnswerBody) {
            result.Error = "The answer is too long.";
            return;
        }
        if (bodyLeft > 0) bodyLeft -= std::min<int64_t>(bodyLeft, n);
    }
    result.Accepted = result.Status >= 200 && result.Status <= 299 && !answer.Location;
    if (!result.Accepted) result.Error = result.StatusLine;
}

} // namespace

TUploadResult PostMultipart(const std::string& Host, int Port, const std::string& Target,
                            const std::vector<std::pair<std::string, std::string>>& Headers,
                            TMultipartBody& Body, int64_t ConnectMs, int64_t ReadMs) {
    TUploadResult result;
    // libcurl only makes the connection, so no header of its own can slip in or change the order.
    std::string head;
    if (!RequestHead(Host, Target, Headers, head)) {
        result.Error = "Invalid request.";
        return result;
    }
    char err[CURL_ERROR_SIZE];
    std::string url = "http://" + Host + ":" + std::to_string(Port) + "/";
    http::TEasy easy = http::NewRequest(url, err, ConnectMs);
    if (!easy) {
        result.Error = "Out of memory.";
        return result;
    }
    CURL* c = easy.get();
    int64_t readLimit = platform::Timeout(ReadMs);
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
    http::Direct(c);
    CURLcode rc = http::Perform(c);
    if (rc != CURLE_OK) {
        result.Error = http::ErrorText(rc, err);
        return result;
    }
    curl_socket_t fd = CURL_SOCKET_BAD;
    curl_easy_getinfo(c, CURLINFO_ACTIVESOCKET, &fd);
    if (!SendAll(c, fd, head.data(), head.size(), readLimit, result.Error)) return result;
    std::vector<char> buf(256 * 1024);
    if (!SendBody(c, fd, Body, buf, readLimit, result.Error)) return result;
    ReadAnswer(c, fd, buf, readLimit, result);
    return result;
}
