// Network helpers of the search: the free listening port, dotted addresses and the page GET.
#pragma once

#include "UdpListener.h"
#include "transport/HttpClient.h"

#include <cstdint>
#include <string>

class TTools_Net {
  public:
    static constexpr int PortRange = 1000;
    static constexpr size_t BodyLimit = http::CameraPageLimit;

    // Activates the listener on the lowest free port of start .. start + 999.
    static bool BindFirstFreePort(TUdpListener& Listener, int Start);
    static std::string IpToText(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
    static int CompareDotted(const std::string& a, const std::string& b);
    // Four decimal numbers 0 to 255 joined by points, nothing else (no host name, no leading
    // zero, no blank): the only form of an address from the network that is taken as one.
    static bool IsDottedIPv4(const std::string& text);
    // GET as text; false (Body untouched) for an empty URL, no connection, a time-out or any
    // answer but 2xx (redirections are not followed). A camera's page: never through a proxy.
    // Never raises.
    static bool HttpGetText(const std::string& URL, std::string& Body, int Timeout, const std::string& User,
                            const std::string& Password);
};
