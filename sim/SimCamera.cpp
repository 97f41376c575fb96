#include "SimCamera.h"

#include "platform/DatagramReceiver.h"

#include "SimSearch.h"
#include "platform/Fd.h"

#include "platform/Platform.h"
#include "transport/CtpSession.h"

#include "transport/Base64.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

// The name a camera is given (its alias), which its search answers carry too.
std::string CameraName(TSeries s) {
    return std::string("SIMCAM-") + SeriesName(s);
}

std::string Status(TSeries s, const std::string& sys, const std::string& app) {
    // F writes its values between single quotes, the others between double quotes; T and C
    // name their device id.
    char q = s == TSeries::F ? '\'' : '"';
    std::string Q(1, q);
    std::string id = s == TSeries::T || s == TSeries::C ? "var deviceid=" : "var id=";
    return id + Q + "SIM000001" + Q + ";\r\nvar sys_ver=" + Q + sys + Q + ";\r\nvar app_ver=" + Q + app + Q +
           ";\r\nvar alias=" + Q + CameraName(s) + Q + ";\r\n";
}

bool QueryAccountSeries(TSeries s) {
    return s == TSeries::T || s == TSeries::C;
}

struct TUploadPath {
    const char* Path;
    TKind Kind;
};

bool UploadKind(TSeries s, const std::string& path, TKind& kind) {
    static const TUploadPath f[] = {{"/upgrade_firmware.cgi", TKind::System},
                                    {"/upgrade_htmls.cgi", TKind::UI}};
    static const TUploadPath h[] = {{"/cgi-bin/upgrade_firmware.cgi", TKind::System},
                                    {"/cgi-bin/upgrade_htmls.cgi", TKind::UI}};
    const TUploadPath* table = s == TSeries::F || s == TSeries::T || s == TSeries::C ? f
                               : s == TSeries::H                                     ? h
                                                                                     : nullptr;
    if (!table) return false;
    for (int i = 0; i < 2; ++i)
        if (path == table[i].Path) {
            kind = table[i].Kind;
            return true;
        }
    return false;
}

// Streams a one-part form body and checks it as strictly as a camera's CGI would.
class TFormCheck {
  public:
    TFormCheck(std::string boundary, std::string contentType)
        : FBoundary(std::move(boundary)), FType(std::move(contentType)), FDelim("\r\n--" + FBoundary),
          FTail("\r\n--" + FBoundary + "--\r\n") {}

    void Feed(const char* p, size_t n) {
        FTotal += n;
        size_t seen = FCarry.size() >= FDelim.size() ? FCarry.size() - FDelim.size() + 1 : 0;
        std::string chunk = FCarry + std::string(p, n);
        if (!FHeadDone) {
            FHeadBuf += std::string(p, n);
            size_t end = FHeadBuf.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (FHeadBuf.size() > 4096) FError = "part head too long";
                return;
            }
            CheckHead(FHeadBuf.substr(0, end + 4));
            FHeadDone = true;
            FDataStart = end + 4;
            FImageHead = FHeadBuf.substr(end + 4, 256);
            chunk = FHeadBuf.substr(end + 4);
            FCarry.clear();
            seen = 0;
            FScanBase = FDataStart;
        } else if (FImageHead.size() < 256) {
            FImageHead += std::string(p, std::min<size_t>(n, 256 - FImageHead.size()));
        }
        // Count boundary lines inside the data: a second part shows up as one more.
        size_t from = seen;
        for (size_t at; (at = chunk.find(FDelim, from)) != std::string::npos; from = at + 1) {
            ++FDelims;
            FLastDelim = FScanBase + at;
        }
        size_t keep = std::min(chunk.size(), FTail.size());
        FScanBase += chunk.size() - keep;
        FCarry = chunk.substr(chunk.size() - keep);
        FEnd = FCarry;
    }

    // Empty when the whole body was one well-formed part; else what is wrong.
    std::string Verdict() const {
        if (!FError.empty()) return FError;
        if (!FHeadDone) return "no part head";
        if (FEnd.size() < FTail.size() || FEnd.compare(FEnd.size() - FTail.size(), FTail.size(), FTail) != 0)
            return "body does not end with the closing boundary";
        if (FDelims != 1 || FLastDelim != FTotal - FTail.size()) return "more than one part";
        return {};
    }
    const std::string& ImageHead() const { return FImageHead; }
    uint64_t ImageSize() const { return FTotal - FDataStart - FTail.size(); }

  private:
    void CheckHead(const std::string& head) {
        const std::string start =
            "--" + FBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"";
        const std::string rest =
            "\"\r\nContent-Type: " + FType + "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
        if (head.compare(0, start.size(), start) != 0)
            FError = "part head does not start with the boundary and name";
        else if (head.size() < start.size() + rest.size() + 1 ||
                 head.compare(head.size() - rest.size(), rest.size(), rest) != 0)
            FError = "part head lines or content type differ";
    }

    std::string FBoundary, FType, FDelim, FTail;
    std::string FHeadBuf, FCarry, FEnd, FImageHead, FError;
    bool FHeadDone = false;
    uint64_t FTotal = 0, FDataStart = 0, FScanBase = 0, FLastDelim = 0;
    int FDelims = 0;
};

} // namespace

TSimCamera::TSimCamera(TCameraConfig config, TRequestLog log)
    : FConfig(std::move(config)), FLog(std::move(log)), FSysVersion(FConfig.SysVersion),
      FAppVersion(FConfig.AppVersion), FServer(LoopbackOnly(FConfig.Address), FConfig.Port) {
    FServer.OnHttp([this](const THttpRequest& r, TConnection& c) { Handle(r, c); });
    if (FConfig.Series == TSeries::T) {
        FUploadServer = std::make_unique<THttpServer>(FConfig.Address, TUploadPort);
        FUploadServer->OnHttp([this](const THttpRequest& r, TConnection& c) {
            Log("upload port " + r.Method + " " + r.Target);
            TKind kind;
            if (r.Method == "POST" && UploadKind(TSeries::T, r.Path, kind))
                Upload(r, c, kind);
            else
                c.Send(HttpResponse(404, "<html>404 Not Found</html>"));
        });
    }
    if (FConfig.Series == TSeries::E)
        FServer.OnLine([](std::string_view first) { return first.substr(0, 4) == "CMD "; },
                       [this](const std::string& first, TConnection& c) { HandleCtp(first, c); });
    // Bound before the camera counts as started, so that a search sent right away is answered.
    int searchPort = SearchPortOf(FConfig.Series);
    platform::TFd search(platform::OpenSocket(SOCK_DGRAM, true));
    if (!search.Valid() || !platform::BindIPv4(search.Get(), "127.255.255.255", searchPort))
        Log("search responder cannot bind 127.255.255.255:" + std::to_string(searchPort));
    else
        FSearchThread =
            std::thread([this, s = std::move(search)]() mutable { SearchResponder(std::move(s)); });
    // A search sent to the camera's own address, as a tool asks one camera what it is: for a
    // camera with an address of its own (cameras sharing 127.0.0.1 share the search ports too).
    platform::TFd unicast(FConfig.Address == "127.0.0.1" ? -1 : platform::OpenSocket(SOCK_DGRAM, true));
    if (unicast.Valid() && platform::BindIPv4(unicast.Get(), FConfig.Address, searchPort))
        FUnicastThread =
            std::thread([this, s = std::move(unicast)]() mutable { SearchResponder(std::move(s)); });
}

TSimCamera::~TSimCamera() {
    FStop = true;
    FWake.Signal();
    // Handlers end first: one of them may be starting a reboot right now.
    FServer.Stop();
    if (FUploadServer) FUploadServer->Stop();
    if (FSearchThread.joinable()) FSearchThread.join();
    if (FUnicastThread.joinable()) FUnicastThread.join();
    std::lock_guard g(FRebootLock);
    if (FRebootThread.joinable()) FRebootThread.join();
}

std::string TSimCamera::SysVersion() const {
    std::lock_guard g(FLock);
    return FSysVersion;
}

std::string TSimCamera::AppVersion() const {
    std::lock_guard g(FLock);
    return FAppVersion;
}

std::string TSimCamera::Describe() const {
    return std::string("camera ") + SeriesName(FConfig.Series) + " " + FConfig.Address + ":" +
           std::to_string(Port()) + " user=" + FConfig.User + " password=" + FConfig.Password +
           " sys=" + SysVersion() + " app=" + AppVersion() + " oem=" + FConfig.OEM +
           (FConfig.Model.empty() ? "" : " model=" + FConfig.Model);
}

void TSimCamera::Log(const std::string& line) const {
    if (FLog)
        FLog(std::string(SeriesName(FConfig.Series)) + "@" + FConfig.Address + ":" + std::to_string(Port()) +
             " " + line);
}

bool TSimCamera::QueryAccountOk(const THttpRequest& r, const char* userKey, const char* passKey) const {
    return r.QueryValue(userKey) == FConfig.User && r.QueryValue(passKey) == FConfig.Password;
}

bool TSimCamera::Authorized(const THttpRequest& r) const {
    std::string want = "Basic " + Base64EncodeLine(FConfig.User + ":" + FConfig.Password);
    return r.Header("Authorization") == want;
}

void TSimCamera::Handle(const THttpRequest& r, TConnection& c) {
    Log(r.Method + " " + r.Target);
    const std::string unauthorized = "<html><body><h1>401 Unauthorized</h1></body></html>";
    TKind kind;
    bool queryAccount = QueryAccountSeries(FConfig.Series);
    if (r.Method == "POST" && FConfig.Series != TSeries::T && UploadKind(FConfig.Series, r.Path, kind)) {
        Upload(r, c, kind);
    } else if (r.Method != "GET") {
        c.Send(HttpResponse(r.Method == "POST" ? 404 : 400, "<html>not here</html>"));
    } else if (queryAccount &&
               (r.Path == "/get_status.cgi" || r.Path == "/oem.txt" || r.Path == "/appver.js")) {
        std::string body;
        if (!QueryAccountOk(r, "user", "pwd"))
            body = "var result=\"Auth Failed\";\r\n";
        else if (r.Path == "/get_status.cgi")
            body = Status(FConfig.Series, SysVersion(), AppVersion());
        else if (r.Path == "/oem.txt")
            body = FConfig.OEM;
        else
            body = (FConfig.Model.empty() ? "" : "var app_model=\"" + FConfig.Model + "\";\r\n") +
                   "var app_ver=\"" + AppVersion() + "\";\r\n";
        c.Send(HttpResponse(200, body, "Content-Type: text/plain\r\n"));
    } else if (r.Path == "/get_status.cgi") {
        c.Send(HttpResponse(200, Status(FConfig.Series, SysVersion(), AppVersion()),
                            "Content-Type: text/plain\r\n"));
    } else if (r.Path == "/oem.txt" || r.Path == "/appver.js") {
        if (!Authorized(r)) {
            c.Send(HttpResponse(401, unauthorized, "WWW-Authenticate: Basic realm=\"camera\"\r\n"));
            return;
        }
        std::string body = FConfig.OEM;
        if (r.Path == "/appver.js")
            body = (FConfig.Model.empty() ? "" : "var app_model=\"" + FConfig.Model + "\";\r\n") +
                   "var app_ver=\"v" + AppVersion() + "\";\r\n";
        c.Send(HttpResponse(200, body, "Content-Type: text/plain\r\n"));
    } else {
        c.Send(HttpResponse(404, "<html>404 Not Found</html>"));
    }
}

void TSimCamera::Upload(const THttpRequest& r, TConnection& c, TKind kind) {
    bool accountOk = FConfig.Series == TSeries::F         ? QueryAccountOk(r, "user", "pwd")
                     : QueryAccountSeries(FConfig.Series) ? QueryAccountOk(r, "loginuse", "loginpas")
                                                          : Authorized(r);
    std::string ct = r.Header("Content-Type");
    const std::string prefix = "multipart/form-data; boundary=";
    int64_t length = r.ContentLength();
    std::string problem;
    if (ct.compare(0, prefix.size(), prefix) != 0 || ct.size() == prefix.size())
        problem = "not a multipart form";
    else if (length < 0)
        problem = "no Content-Length";
    TFormCheck form(ct.substr(std::min(ct.size(), prefix.size())), FConfig.Series == TSeries::F
                                                                       ? "application/octet-stream"
                                                                       : "application/x-zip-compressed");
    if (QueryAccountSeries(FConfig.Series) && r.HasHeader("Authorization")) problem = "an Authorization line";
    // The body is taken in full before any answer, as a camera's CGI does.
    char buf[65536];
    int64_t got = 0;
    while (problem.empty() && got < length) {
        size_t want = static_cast<size_t>(std::min<int64_t>(sizeof buf, length - got));
        if (FConfig.Faults.CloseAfterBytes >= 0)
            want = static_cast<size_t>(std::min<int64_t>(
                static_cast<int64_t>(want), std::max<int64_t>(1, FConfig.Faults.CloseAfterBytes - got)));
        size_t n = c.Read(buf, want, 30000);
        if (n == 0) {
            Log("upload broken after " + std::to_string(got) + " bytes");
            return;
        }
        form.Feed(buf, n);
        got += static_cast<int64_t>(n);
        if (FConfig.Faults.CloseAfterBytes >= 0 && got >= FConfig.Faults.CloseAfterBytes) {
            Log("fault: closing the upload after " + std::to_string(got) + " bytes");
            c.Close(true);
            return;
        }
    }
    if (!accountOk) {
        Log("upload refused: wrong account");
        c.Send(HttpResponse(401, "<html>401 Unauthorized</html>", "",
                            r.Version == "HTTP/1.0" ? "HTTP/1.0" : "HTTP/1.1"));
        return;
    }
    if (problem.empty()) problem = form.Verdict();
    std::string version = ImageVersion(form.ImageHead());
    if (problem.empty() && FConfig.Series == TSeries::F &&
        form.ImageHead().compare(0, 4, Signature(kind)) != 0)
        problem = "wrong image signature";
    if (problem.empty() && version.empty()) problem = "the image names no version";
    if (!problem.empty()) {
        Log("upload refused: " + problem);
        c.Send(HttpResponse(400, "<html>upgrade failed: " + problem + "</html>"));
        return;
    }
    if (FConfig.Faults.UploadHang) {
        Log("fault: never answering the upload");
        while (c.Wait(1000) && !FStop) {
        }
        return;
    }
    if (int status = FConfig.Faults.UploadStatus) {
        Log("fault: answering the upload with " + std::to_string(status));
        c.Send(HttpResponse(status, "<html>fault</html>", status == 302 ? "Location: reboot.htm\r\n" : ""));
        return;
    }
    Log("upload of " + std::to_string(form.ImageSize()) +
        " bytes accepted: " + (kind == TKind::System ? "system " : "UI ") + version + ", rebooting");
    ++FUpgrades;
    // Down before the answer leaves: whoever reads the answer finds the camera rebooting.
    FServer.Pause();
    if (FUploadServer) FUploadServer->Pause();
    c.Send(HttpResponse(200, "<html><body>Upgrade succeeded, rebooting...</body></html>"));
    c.Close();
    Reboot(kind, version);
}

void TSimCamera::Reboot(TKind kind, const std::string& version) {
    std::lock_guard g(FRebootLock);
    if (FStop) return;
    if (FRebootThread.joinable()) FRebootThread.join();
    FRebootThread = std::thread([this, kind, version] {
        auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(platform::Scaled(FConfig.RebootMs));
        while (!FStop && (FConfig.Faults.RebootForever || std::chrono::steady_clock::now() < end))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (FStop) return;
        if (!FConfig.Faults.RebootOldVersion) {
            std::lock_guard g(FLock);
            (kind == TKind::System ? FSysVersion : FAppVersion) = version;
        }
        FServer.Resume();
        if (FUploadServer) FUploadServer->Resume();
        Log("back after reboot");
    });
}

void TSimCamera::HandleCtp(const std::string& first, TConnection& c) {
    Log("CTP " + first);
    if (first == "CMD 10") {
        CtpUpload(c);
        return;
    }
    if (first != "CMD cfgusr CTP/1.0") return;
    std::string line;
    int64_t length = -1;
    while (c.ReadLine(line, 1024, 10000) && !line.empty())
        if (line.compare(0, 15, "Content-Length:") == 0) length = std::atoll(line.c_str() + 15);
    std::string body;
    if (length < 0 || length > 4096 || !c.ReadExactly(body, static_cast<size_t>(length), 10000)) return;
    bool ok = body == "-login " + FConfig.User + ":" + FConfig.Password + "\r\n\r\n" &&
              !FConfig.Faults.CtpLoginRefused;
    Log(ok ? "CTP login accepted" : "CTP login refused");
    c.Send(ok ? "CTP/1.0 200 OK\r\n\r\n" : "CTP/1.0 401 Unauthorized\r\n\r\n");
    if (!ok || !c.ReadLine(line, 1024, 10000) || line != "CMD exit CTP/1.0") return;
    FUpgradeMode = true;
    c.Send("CTP/1.0 200 OK\r\n\r\n");
}

namespace {
struct TMd {
    EVP_MD_CTX* Ctx = EVP_MD_CTX_new();
    TMd() { EVP_DigestInit_ex(Ctx, EVP_md5(), nullptr); }
    ~TMd() { EVP_MD_CTX_free(Ctx); }
    TMd(const TMd&) = delete;
    TMd& operator=(const TMd&) = delete;
};
} // namespace

void TSimCamera::CtpUpload(TConnection& c) {
    std::string hello;
    if (!c.ReadExactly(hello, 10, 10000) || hello != "echo hello") return;
    int index = 0;
    bool broken = false;
    // Answers one message; false when the dialogue ends here.
    auto answer = [&](bool ok) {
        if (FConfig.Faults.CtpCloseAtMessage == index) {
            Log("fault: closing the upload at message " + std::to_string(index));
            c.Close(true);
            broken = true;
            return false;
        }
        bool refuse = !ok || FConfig.Faults.CtpRefuseMessage == index;
        ++index;
        if (FConfig.Faults.CtpContinue) {
            c.Send("REPLY Continue\r\n");
            c.Wait(platform::Scaled(1500));
        }
        c.Send(refuse ? "REPLY Error\r\n" : "REPLY OK\r\n");
        broken = broken || refuse;
        return !refuse;
    };
    if (!answer(FUpgradeMode.exchange(false))) return;
    std::string line, name, payload, head, version;
    int64_t size = -1, received = 0;
    std::unique_ptr<TMd> md;
    TKind kind = TKind::System;
    while (!broken && c.ReadLine(line, 64, 30000)) {
        size_t blank = line.find(' ');
        std::string word = line.substr(0, blank);
        long long n = blank == std::string::npos ? -1 : std::atoll(line.c_str() + blank + 1);
        if (n < 0 || n > 4096 || !c.ReadExactly(payload, static_cast<size_t>(n), 30000)) break;
        if (word == "FILE") {
            size_t sp = payload.rfind(' ');
            name = payload.substr(0, sp);
            size = sp == std::string::npos ? -1 : std::atoll(payload.c_str() + sp + 1);
            received = 0;
            head.clear();
            md = std::make_unique<TMd>();
            Log("CTP file " + name + " of " + std::to_string(size) + " bytes");
            answer(size > 0 && !name.empty());
        } else if (word == "DATA" && md) {
            received += n;
            // Answered before the chunk is digested and decoded, as the sender prepares its next
            // chunk while it waits.
            answer(n <= 1400 && received <= size);
            EVP_DigestUpdate(md->Ctx, payload.data(), payload.size());
            if (head.size() < 256) {
                for (size_t i = 0; i < payload.size() && i < 256; ++i)
                    payload[i] = static_cast<char>(payload[i] ^ CtpPayloadKey[i % 8]);
                head += payload.substr(0, 256 - head.size());
            }
        } else if (word == "MD5" && md && n == 16) {
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned len = 0;
            EVP_DigestFinal_ex(md->Ctx, digest, &len);
            md.reset();
            bool ok = received == size && payload == std::string(reinterpret_cast<char*>(digest), 16);
            if (!ok) Log("CTP digest of " + name + " does not match");
            if (ok && !ImageVersion(head).empty()) {
                version = ImageVersion(head);
                kind = head.compare(0, 4, Signature(TKind::UI)) == 0 ? TKind::UI : TKind::System;
            }
            answer(ok);
        } else if (word == "CMD") {
            for (size_t i = 0; i < payload.size(); ++i)
                payload[i] = static_cast<char>(payload[i] ^ CtpPayloadKey[i % 8]);
            Log("CTP command: " + payload);
            answer(true);
        } else {
            answer(false);
        }
    }
    if (broken || version.empty()) {
        Log("CTP upload ended without a complete image");
        return;
    }
    Log("CTP upload complete: " + std::string(kind == TKind::System ? "system " : "UI ") + version +
        ", rebooting");
    ++FUpgrades;
    FServer.Pause();
    Reboot(kind, version);
}

void TSimCamera::SearchResponder(platform::TFd s) {
    // Bound to the loopback broadcast address only: the search of the tools is sent there, and
    // every camera of the dialect shares the port.
    TSearchIdentity me;
    me.Series = FConfig.Series;
    me.Address = FConfig.Address;
    me.HttpPort = Port();
    me.Name = CameraName(FConfig.Series);
    // Each camera of the process has a MAC of its own: the series' letter, then its number.
    static std::atomic<uint32_t> cameras{0};
    uint32_t n = ++cameras;
    const char* letter = SeriesName(FConfig.Series);
    unsigned char mac[6] = {0x02,
                            0x53,
                            static_cast<unsigned char>(letter[0]),
                            static_cast<unsigned char>(n >> 16),
                            static_cast<unsigned char>(n >> 8),
                            static_cast<unsigned char>(n)};
    std::memcpy(me.Mac, mac, 6);
    // Answers leave from the camera's own address, as a real camera's would: the sender of a
    // reply is the address it names.
    platform::TFd own(platform::OpenSocket(SOCK_DGRAM));
    if (!own.Valid() || !platform::BindIPv4(own.Get(), FConfig.Address, 0)) own.Reset();
    int replyFrom = own.Valid() ? own.Get() : s.Get();
    platform::AskReceiveBuffer(s.Get(), 4 << 20);
    while (!FStop) {
        if (!FWake.WaitReadable(s.Get(), -1)) continue;
        char buf[1024];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(s.Get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0 || Rebooting()) continue;
        me.SysVersion = SysVersion();
        me.AppVersion = AppVersion();
        auto answers = WithSearchFaults(SearchAnswers(me, std::string_view(buf, static_cast<size_t>(n))),
                                        FConfig.Faults);
        for (const std::string& a : answers)
            sendto(replyFrom, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        if (!answers.empty()) Log("search answered");
    }
}

} // namespace sim
