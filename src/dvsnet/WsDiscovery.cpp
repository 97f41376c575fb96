#include "WsDiscovery.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace wsd {

namespace {

struct TDocDeleter {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using TDoc = std::unique_ptr<xmlDoc, TDocDeleter>;

bool IsNamed(const xmlNode* n, std::string_view local) {
    return n->type == XML_ELEMENT_NODE && n->name && local == reinterpret_cast<const char*>(n->name);
}

const xmlNode* Child(const xmlNode* n, std::string_view local) {
    for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
        if (IsNamed(c, local)) return c;
    return nullptr;
}

// The element's own text, entities and character references decoded by the parser, bounded.
std::string_view OwnText(const xmlNode* n, std::string& keep) {
    keep.clear();
    for (const xmlNode* c = n ? n->children : nullptr; c && keep.size() < MaxMessage; c = c->next)
        if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
            keep += reinterpret_cast<const char*>(c->content);
    return keep;
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
    if (message.empty() || message.size() > MaxMessage) return out;
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
    // No entity substitution, no DTD loading, no network: a hostile answer costs what it weighs.
    TDoc doc(xmlReadMemory(message.data(), static_cast<int>(message.size()), "probematches.xml", nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA));
    if (!doc || doc->intSubset || doc->extSubset) return out;
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root || !IsNamed(root, "Envelope")) return out;
    const xmlNode* matches = Child(Child(root, "Body"), "ProbeMatches");
    if (!matches) return out;
    std::string keep;
    for (const xmlNode* one = matches->children; one && out.size() < MaxMatches; one = one->next) {
        if (!IsNamed(one, "ProbeMatch")) continue;
        TProbeMatch m;
        if (const xmlNode* a = Child(Child(one, "EndpointReference"), "Address"))
            m.Endpoint = Trimmed(OwnText(a, keep));
        if (const xmlNode* scopes = Child(one, "Scopes")) {
            std::string_view text = OwnText(scopes, keep);
            static constexpr std::string_view prefix = "onvif://www.onvif.org/name/";
            if (size_t s = text.find(prefix); s != std::string_view::npos) {
                std::string_view rest = text.substr(s + prefix.size());
                m.Name = PercentDecoded(rest.substr(0, rest.find_first_of(" \t\r\n")));
            }
        }
        if (const xmlNode* x = Child(one, "XAddrs")) ReadXAddr(FirstWord(OwnText(x, keep)), m);
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
