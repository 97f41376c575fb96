#include "SimCamera.h"

#include "platform/Platform.h"
#include "transport/Base64.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

std::string Status(TSeries s, const std::string& sys, const std::string& app) {
    // F writes its values between single quotes, H between double quotes.
    char q = s == TSeries::F ? '\'' : '"';
    std::string Q(1, q);
    return "var id=" + Q + "SIM000001" + Q + ";\r\nvar sys_ver=" + Q + sys + Q + ";\r\nvar app_ver=" + Q + app + Q +
           ";\r\nvar alias=" + Q + "simcam" + Q + ";\r\n";
}

struct TUploadPath {
    const char* Path;
    TKind Kind;
};

bool UploadKind(TSeries s, const std::string& path, TKind& kind) {
    static const TUploadPath f[] = {{"/upgrade_firmware.cgi", TKind::System}, {"/upgrade_htmls.cgi", TKind::UI}};
    static const TUploadPath h[] = {{"/cgi-bin/upgrade_firmware.cgi", TKind::System},
                                    {"/cgi-bin/upgrade_htmls.cgi", TKind::UI}};
    const TUploadPath* table = s == TSeries::F ? f : s == TSeries::H ? h : nullptr;
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
        const std::string start = "--" + FBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"";
        const std::string rest = "\"\r\nContent-Type: " + FType + "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
        if (head.compare(0, start.size(), start) != 0) FError = "part head does not start with the boundary and name";
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
}

TSimCamera::~TSimCamera() {
    FStop = true;
    // Handlers end first: one of them may be starting a reboot right now.
    FServer.Stop();
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
    return std::string("camera ") + SeriesName(FConfig.Series) + " " + FConfig.Address + ":" + std::to_string(Port()) +
           " user=" + FConfig.User + " password=" + FConfig.Password + " sys=" + SysVersion() + " app=" + AppVersion() +
           " oem=" + FConfig.OEM + (FConfig.Model.empty() ? "" : " model=" + FConfig.Model);
}

void TSimCamera::Log(const std::string& line) const {
    if (FLog) FLog(std::string(SeriesName(FConfig.Series)) + "@" + FConfig.Address + ":" + std::to_string(Port()) + " " + line);
}

bool TSimCamera::Authorized(const THttpRequest& r) const {
    std::string want = "Basic " + Base64EncodeLine(FConfig.User + ":" + FConfig.Password);
    return r.Header("Authorization") == want;
}

void TSimCamera::Handle(const THttpRequest& r, TConnection& c) {
    Log(r.Method + " " + r.Target);
    const std::string unauthorized = "<html><body><h1>401 Unauthorized</h1></body></html>";
    TKind kind;
    if (r.Method == "POST" && UploadKind(FConfig.Series, r.Path, kind)) {
        Upload(r, c, kind);
    } else if (r.Method != "GET") {
        c.Send(HttpResponse(400, "bad request"));
    } else if (r.Path == "/get_status.cgi") {
        c.Send(HttpResponse(200, Status(FConfig.Series, SysVersion(), AppVersion()), "Content-Type: text/plain\r\n"));
    } else if (r.Path == "/oem.txt" || r.Path == "/appver.js") {
        if (!Authorized(r)) {
            c.Send(HttpResponse(401, unauthorized, "WWW-Authenticate: Basic realm=\"camera\"\r\n"));
            return;
        }
        std::string body = FConfig.OEM;
        if (r.Path == "/appver.js")
            body = (FConfig.Model.empty() ? "" : "var app_model=\"" + FConfig.Model + "\";\r\n") + "var app_ver=\"v" +
                   AppVersion() + "\";\r\n";
        c.Send(HttpResponse(200, body, "Content-Type: text/plain\r\n"));
    } else {
        c.Send(HttpResponse(404, "<html>404 Not Found</html>"));
    }
}

void TSimCamera::Upload(const THttpRequest& r, TConnection& c, TKind kind) {
    bool accountOk = FConfig.Series == TSeries::F
                         ? r.QueryValue("user") == FConfig.User && r.QueryValue("pwd") == FConfig.Password
                         : Authorized(r);
    std::string ct = r.Header("Content-Type");
    const std::string prefix = "multipart/form-data; boundary=";
    int64_t length = r.ContentLength();
    std::string problem;
    if (ct.compare(0, prefix.size(), prefix) != 0 || ct.size() == prefix.size()) problem = "not a multipart form";
    else if (length < 0) problem = "no Content-Length";
    TFormCheck form(ct.substr(std::min(ct.size(), prefix.size())),
                    FConfig.Series == TSeries::F ? "application/octet-stream" : "application/x-zip-compressed");
    // The body is taken in full before any answer, as a camera's CGI does.
    char buf[65536];
    int64_t got = 0;
    while (problem.empty() && got < length) {
        size_t want = static_cast<size_t>(std::min<int64_t>(sizeof buf, length - got));
        if (FConfig.Faults.CloseAfterBytes >= 0)
            want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), std::max<int64_t>(1, FConfig.Faults.CloseAfterBytes - got)));
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
        c.Send(HttpResponse(401, "<html>401 Unauthorized</html>", "", r.Version == "HTTP/1.0" ? "HTTP/1.0" : "HTTP/1.1"));
        return;
    }
    if (problem.empty()) problem = form.Verdict();
    std::string version = ImageVersion(form.ImageHead());
    if (problem.empty() && FConfig.Series == TSeries::F && form.ImageHead().compare(0, 4, Signature(kind)) != 0)
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
    Log("upload of " + std::to_string(form.ImageSize()) + " bytes accepted: " +
        (kind == TKind::System ? "system " : "UI ") + version + ", rebooting");
    ++FUpgrades;
    // Down before the answer leaves: whoever reads the answer finds the camera rebooting.
    FServer.Pause();
    c.Send(HttpResponse(200, "<html><body>Upgrade succeeded, rebooting...</body></html>"));
    c.Close();
    Reboot(kind, version);
}

void TSimCamera::Reboot(TKind kind, const std::string& version) {
    std::lock_guard g(FRebootLock);
    if (FStop) return;
    if (FRebootThread.joinable()) FRebootThread.join();
    FRebootThread = std::thread([this, kind, version] {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(platform::Scaled(FConfig.RebootMs));
        while (!FStop && (FConfig.Faults.RebootForever || std::chrono::steady_clock::now() < end))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (FStop) return;
        {
            std::lock_guard g(FLock);
            (kind == TKind::System ? FSysVersion : FAppVersion) = version;
        }
        FServer.Resume();
        Log("back after reboot");
    });
}

} // namespace sim
