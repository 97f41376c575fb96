#include "WsDiscovery.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace wsd {

namespace {

// The text of the first element with this local name (any prefix) in [from, to), and where it
// ends; npos when there is none.
size_t Element(std::string_view m, std::string_view local, size_t from, size_t to, std::string_view& text) {
    for (size_t at = m.find('<', from); at != std::string_view::npos && at < to; at = m.find('<', at + 1)) {
        size_t nameEnd = m.find_first_of(" \t\r\n/>", at + 1);
        if (nameEnd == std::string_view::npos || nameEnd >= to) return std::string_view::npos;
        std::string_view name = m.substr(at + 1, nameEnd - at - 1);
        if (!name.empty() && (name[0] == '/' || name[0] == '?' || name[0] == '!')) continue;
        size_t colon = name.find(':');
        if ((colon == std::string_view::npos ? name : name.substr(colon + 1)) != local) continue;
        size_t open = m.find('>', nameEnd);
        if (open == std::string_view::npos || open >= to) return std::string_view::npos;
        if (m[open - 1] == '/') { // <x/>: empty
            text = {};
            return open + 1;
        }
        // The closing tag of the same name: "</", the name, ">".
        for (size_t close = m.find("</", open + 1); close != std::string_view::npos && close < to;
             close = m.find("</", close + 2)) {
            size_t after = close + 2 + name.size();
            if (after >= m.size() || m.substr(close + 2, name.size()) != name || m[after] != '>') continue;
            text = m.substr(open + 1, close - open - 1);
            return after + 1;
        }
        return std::string_view::npos;
    }
    return std::string_view::npos;
}

std::string Trimmed(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, std::min(e - b + 1, MaxText)));
}

std::string PercentDecoded(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size() && out.size() < MaxText; ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::strtol(std::string(s.substr(i + 1, 2)).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string_view FirstWord(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_first_of(" \t\r\n", b);
    return s.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b);
}

void ReadXAddr(std::string_view url, TProbeMatch& m) {
    size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return;
    std::string_view rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find('/'));
    if (rest.empty() || rest[0] == '[') return; // IPv4 and names only
    size_t colon = rest.rfind(':');
    m.Host = std::string(rest.substr(0, std::min(colon, MaxText)));
    m.Port = url.substr(0, scheme) == "https" ? 443 : 80;
    if (colon != std::string_view::npos) {
        std::string port(rest.substr(colon + 1));
        char* end = nullptr;
        long p = port.size() <= 5 ? std::strtol(port.c_str(), &end, 10) : 0;
        m.Port = end && *end == '\0' && p >= 1 && p <= 65535 ? static_cast<int>(p) : 0;
    }
}

} // namespace

std::string Probe(const std::string& messageId) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:w=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
           "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\">"
           "<e:Header><w:MessageID>uuid:" +
           messageId +
           "</w:MessageID><w:To e:mustUnderstand=\"true\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</w:To>"
           "<w:Action "
           "e:mustUnderstand=\"true\">http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</w:Action>"
           "</e:Header><e:Body><d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe></e:Body>"
           "</e:Envelope>";
}

std::vector<TProbeMatch> ParseProbeMatches(std::string_view message) {
    std::vector<TProbeMatch> out;
    if (message.size() > MaxMessage) return out;
    std::string_view matches;
    if (Element(message, "ProbeMatches", 0, message.size(), matches) == std::string_view::npos) return out;
    size_t at = 0;
    std::string_view one;
    while (out.size() < MaxMatches &&
           (at = Element(matches, "ProbeMatch", at, matches.size(), one)) != std::string_view::npos) {
        TProbeMatch m;
        std::string_view text;
        if (Element(one, "Address", 0, one.size(), text) != std::string_view::npos)
            m.Endpoint = Trimmed(text);
        if (Element(one, "Scopes", 0, one.size(), text) != std::string_view::npos) {
            static constexpr std::string_view prefix = "onvif://www.onvif.org/name/";
            for (size_t s = text.find(prefix); s != std::string_view::npos; s = std::string_view::npos) {
                std::string_view rest = text.substr(s + prefix.size());
                m.Name = PercentDecoded(rest.substr(0, rest.find_first_of(" \t\r\n")));
            }
        }
        if (Element(one, "XAddrs", 0, one.size(), text) != std::string_view::npos)
            ReadXAddr(FirstWord(text), m);
        if (m.Endpoint.empty() || m.Host.empty()) continue;
        // FNV-1a of the endpoint: its first six bytes identify the device.
        uint64_t h = 1469598103934665603ULL;
        for (unsigned char c : m.Endpoint)
            h = (h ^ c) * 1099511628211ULL;
        for (int i = 0; i < 6; ++i)
            m.Id[i] = static_cast<unsigned char>(h >> (8 * i));
        out.push_back(std::move(m));
    }
    return out;
}

} // namespace wsd
