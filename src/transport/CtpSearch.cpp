#include "CtpSearch.h"

#include "platform/Broadcast.h"
#include "platform/DatagramReceiver.h"
#include "platform/Fd.h"
#include "platform/Platform.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <mutex>

namespace {

std::string Cut(const std::string& s, size_t n) {
    return s.size() > n ? s.substr(0, n) : s;
}

} // namespace

void ApplyCtpSearchLine(const std::string& line, TCtpSearchRecord& r) {
    // The MAC is read last, so that a line of another key never reads as one.
    static const char* keys[] = {"-name", "-sn", "-portctp", "-ip",      "-netmask", "-mdns",
                                 "-sdns", "-gw", "-dhcpen",  "-version", "-mac"};
    int which = -1;
    for (int i = 0; i < static_cast<int>(std::size(keys)) && which < 0; ++i)
        if (line.find(keys[i]) != std::string::npos) which = i;
    if (which < 0) return;
    size_t blank = line.find(' ');
    std::string value = blank == std::string::npos ? line : line.substr(blank + 1);
    value.resize(std::min(value.size(), value.find('\0'))); // a text ends at its first zero byte
    switch (which) {
    case 0:
        r.DevName = Cut(value, 50);
        break;
    case 1:
        r.DeviceID = Cut(value, 40);
        break;
    case 2: {
        char* end = nullptr;
        long v = std::strtol(value.c_str(), &end, 10);
        // A port outside 1 to 65535 would wrap where it is used; it reads as not a number.
        r.CtpPort =
            (!value.empty() && end && *end == '\0' && v >= 1 && v <= 65535) ? static_cast<int>(v) : 81;
        break;
    }
    case 3:
        r.IP = Cut(value, 16);
        break;
    case 4:
        r.Mask = Cut(value, 16);
        break;
    case 5:
        r.DNS1 = Cut(value, 16);
        break;
    case 6:
        r.DNS2 = Cut(value, 16);
        break;
    case 7:
        r.Gateway = Cut(value, 16);
        break;
    case 8:
        r.DhcpEnabled = value != "0";
        break;
    case 9: {
        // "-version v 47.2.3.18 build": drop the key and the next word; the version runs to and
        // includes the next blank, and without one there is none.
        std::string v = line;
        for (int k = 0; k < 2; ++k) {
            size_t b = v.find(' ');
            v = b == std::string::npos ? std::string() : v.substr(b + 1);
        }
        size_t b = v.find(' ');
        r.Version = b == std::string::npos ? std::string() : Cut(v.substr(0, b + 1), 48);
        break;
    }
    case 10:
        r.Mac = Cut(value, 17);
        break;
    }
}

bool ParseCtpSearchReply(const std::string& d, TCtpSearchRecord& r) {
    if (d.empty() || d.compare(0, 5, "REPLY") != 0) return false;
    r = TCtpSearchRecord{};
    size_t pos = 0;
    while (pos <= d.size()) {
        size_t eol = d.find("\r\n", pos);
        ApplyCtpSearchLine(d.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos), r);
        if (eol == std::string::npos) break;
        pos = eol + 2;
    }
    return true;
}

int SearchCtpCameras(TCtpSearchList& List, const std::string& Wanted) {
    // Every search of this process binds the one search port, where only one socket of those
    // sharing it receives each answer: sessions side by side search in turn.
    static std::mutex searching;
    std::lock_guard one(searching);
    platform::TFd socket(platform::OpenSocket(SOCK_DGRAM, true, true));
    if (!socket.Valid()) return 0;
    int s = socket.Get();
    platform::AskReceiveBuffer(s, platform::TDatagramReceiver::ReceiveBuffer);
    // A port already taken is no failure: the system then picks the source port.
    (void)platform::BindIPv4(s, "", CtpSearchPort);
    int count = 0;
    bool sent = false;
    static const char search[] = "SEARCH * CTP/1.0\r\nFrom:0.0.0.0\r\n\r\n";
    for (const std::string& target : platform::BroadcastTargets()) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(CtpSearchPort);
        if (inet_pton(AF_INET, target.c_str(), &to.sin_addr) != 1) continue;
        sendto(s, search, sizeof search - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        sent = true;
    }
    if (sent) {
        // The window closes after SearchWait without an answer, and after SearchLimit in all, so
        // that a flood of answers cannot keep it open. Both scale as one: the floor of a small
        // time scale would otherwise make the silence wait as long as the whole window.
        int64_t silence = platform::Timeout(ctp::SearchWait);
        auto end = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(silence * (ctp::SearchLimit / ctp::SearchWait));
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            int64_t wait = std::min<int64_t>(silence, left.count());
            if (platform::WaitFd(s, POLLIN, wait) <= 0) break;
            char buf[512];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            TCtpSearchRecord r;
            if (!ParseCtpSearchReply(std::string(buf, static_cast<size_t>(n)), r)) continue;
            // Only a camera speaks for itself: a reply naming another host's address is not that
            // host's version.
            char sender[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
            if (r.IP != sender) continue;
            bool found = !Wanted.empty() && r.IP == Wanted && List.count(r.IP) == 0;
            List.emplace(r.IP, r);
            ++count;
            // The first answer of the camera asked for is the one taken: waiting for the others
            // would change nothing.
            if (found) break;
        }
    }
    return count;
}
