#include "NetHelpers.h"

#include "platform/Platform.h"
#include "transport/Base64.h"
#include "transport/CameraGet.h"
#include "transport/HttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

bool TTools_Net::BindFirstFreePort(TUdpListener& Listener, int Start) {
    int found = -1;
    platform::TFd socket(platform::OpenSocket(SOCK_DGRAM));
    if (int probe = socket.Get(); probe >= 0) {
        for (int port = Start; port < Start + PortRange && port <= 65535; ++port) {
            if (port < 0) continue;
            if (platform::BindIPv4(probe, "", port)) {
                found = port;
                break;
            }
            if (errno != EADDRINUSE && errno != EACCES) break;
        }
    }
    socket.Reset();
    if (found < 0) return false;
    for (int port = found; port < Start + PortRange && port <= 65535; ++port)
        if (Listener.Activate(port)) return true;
    return false;
}

std::string TTools_Net::IpToText(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return std::to_string(b0) + "." + std::to_string(b1) + "." + std::to_string(b2) + "." +
           std::to_string(b3);
}

int TTools_Net::CompareDotted(const std::string& a, const std::string& b) {
    TStringList pa, pb;
    TTools::SplitText(a, ".", pa);
    TTools::SplitText(b, ".", pb);
    if (pa.size() != pb.size()) {
        int c = strcasecmp(a.c_str(), b.c_str());
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    auto number = [](const std::string& s) -> long long {
        if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos) return 0;
        return std::atoll(s.c_str());
    };
    for (size_t i = 0; i < pa.size(); ++i) {
        long long x = number(pa[i]), y = number(pb[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool TTools_Net::IsDottedIPv4(const std::string& text) {
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        size_t start = i;
        int value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3)
            value = value * 10 + (text[i++] - '0');
        size_t digits = i - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
        if (++parts < 4) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
    }
    return i == text.size();
}

bool TTools_Net::HttpGetText(const std::string& URL, std::string& Body, int Timeout, const std::string& User,
                             const std::string& Password) {
    try {
        return http::GetText(URL, Body, Timeout, User, Password, BodyLimit);
    } catch (...) {
        return false;
    }
}
