#include "SearchReplies.h"

#include "NetHelpers.h"
#include "base/Text.h"

#include "platform/Broadcast.h"

#include <cstdlib>
#include <cstring>

namespace {

// Reads a datagram as the layouts below describe it: every byte past its end is zero.
class TDatagram {
  public:
    explicit TDatagram(std::string_view d) : FData(d) {}
    uint8_t At(size_t i) const { return i < FData.size() ? static_cast<uint8_t>(FData[i]) : 0; }
    uint16_t LE16(size_t i) const { return static_cast<uint16_t>(At(i) | At(i + 1) << 8); }
    uint16_t BE16(size_t i) const { return static_cast<uint16_t>(At(i) << 8 | At(i + 1)); }
    uint32_t LE32(size_t i) const { return LE16(i) | static_cast<uint32_t>(LE16(i + 2)) << 16; }
    // The bytes from offset up to the first zero byte, at most max of them.
    std::string Text(size_t offset, size_t max = std::string::npos) const {
        std::string out;
        for (size_t i = offset; i < FData.size() && out.size() < max && FData[i] != '\0'; ++i)
            out += FData[i];
        return out;
    }
    std::string Ip(size_t i) const { return TTools_Net::IpToText(At(i), At(i + 1), At(i + 2), At(i + 3)); }
    void Copy(size_t offset, unsigned char* out, size_t n) const {
        for (size_t k = 0; k < n; ++k)
            out[k] = At(offset + k);
    }
    size_t Size() const { return FData.size(); }

  private:
    std::string_view FData;
};

bool StartsWith(std::string_view d, std::string_view prefix) {
    return d.size() >= prefix.size() && d.substr(0, prefix.size()) == prefix;
}

// ---- MO_I ----
// A 23-byte header, little-endian: "MO_I" at 0, operation code (2) at 4, nine bytes, body length
// (4) at 15, four bytes; then the body. The reply body (offsets from its start):
//   0 identifier (13)  13 name, UTF-8 (21)  34 IPv4  38 mask  42 gateway  46 DNS  50 unread (4)
//   54 version, four numbers  58 second version  62 HTTP port (big-endian)
//   195-byte bodies only: 64 address mode (1 = DHCP)  65 DDNS host (65)  130 DDNS user (65)
namespace moi {
constexpr size_t HeadSize = 23, OpOffset = 4, LengthOffset = 15, Inspected = 279;
constexpr size_t Id = 0, Name = 13, Ip = 34, Mask = 38, Gateway = 42, Dns = 46, Version1 = 54, Version2 = 58,
                 HttpPort = 62, Mode = 64, DdnsHost = 65, DdnsUser = 130;
} // namespace moi

// ---- binary dialect ----
// Head: 0x10 0x10, command (2, little-endian), two bytes carried into the follow-up, payload
// length (2, little-endian). Information reply 0x8F12 (datagram offsets):
//   8 IPv4 text  24 mask  40 gateway  56 DNS  72 second DNS  88 HTTP port (LE)  94 second port
//   96 MAC (6)  102 number (2)  104 device identifier (7)  111 address mode  112 name, UTF-8
//   136 firmware version
// DDNS reply 0x8F0F: 96 MAC (6)  142 host  272 user  336 password.
namespace bin {
constexpr size_t CommandOffset = 2, LengthOffset = 6;
constexpr size_t OfferCopyFrom = 12, InfoCopyFrom = 8;
constexpr size_t Ip = 8, Mask = 24, Gateway = 40, Dns1 = 56, Dns2 = 72, HttpPort = 88, Port2 = 94, Mac = 96,
                 Number = 102, DeviceId = 104, Mode = 111, Name = 112, Version = 136;
constexpr size_t DdnsHost = 142, DdnsUser = 272, DdnsPassword = 336;
} // namespace bin

std::string FollowUp(std::string_view datagram, uint16_t command, size_t copyFrom) {
    TDatagram d(datagram);
    std::string out(binary::HeadSize + binary::FollowUpPayload, '\0');
    for (size_t i = 0; i < binary::HeadSize; ++i)
        out[i] = static_cast<char>(d.At(i));
    out[bin::CommandOffset] = static_cast<char>(command & 0xFF);
    out[bin::CommandOffset + 1] = static_cast<char>(command >> 8);
    out[bin::LengthOffset] = static_cast<char>(binary::FollowUpPayload & 0xFF);
    out[bin::LengthOffset + 1] = static_cast<char>(binary::FollowUpPayload >> 8);
    for (size_t i = 0; i < binary::FollowUpPayload; ++i)
        out[binary::HeadSize + i] = static_cast<char>(d.At(copyFrom + i));
    return out;
}

std::string Dotted4(const TDatagram& d, size_t at) {
    return std::to_string(d.At(at)) + "." + std::to_string(d.At(at + 1)) + "." +
           std::to_string(d.At(at + 2)) + "." + std::to_string(d.At(at + 3));
}

} // namespace

// ---- probes ----

std::string Sq610Probe() {
    static const std::pair<uint8_t, uint8_t> items[] = {
        {0x10, 6}, {0x20, 16}, {0x21, 16}, {0x11, 4}, {0x12, 4}, {0x13, 4},  {0x14, 4},
        {0x1F, 4}, {0x22, 16}, {0x23, 16}, {0x24, 4}, {0x28, 4}, {0x25, 30}, {0x26, 1}};
    std::string p = "SQ610";
    for (auto [tag, length] : items) {
        p += static_cast<char>(tag);
        p += static_cast<char>(length);
        p.append(length, '\0');
    }
    p.resize(256, '\0');
    return p;
}

std::string MoiProbe() {
    std::string p(moi::HeadSize + 4, '\0');
    std::memcpy(p.data(), "MO_I", 4);
    p[moi::LengthOffset] = 4;
    p[moi::HeadSize + 3] = 1;
    return p;
}

std::string UicamProbe() {
    return "uicam query";
}

std::string CtpSearchProbe() {
    return "SEARCH * CTP/1.0\r\nFrom:0.0.0.0\r\n\r\n";
}

std::string BinaryProbe() {
    return std::string("\x10\x10\x01\x0F\x00\x00\x00\x00", 8);
}

bool Broadcast(IDatagramPort& via, const std::string& data, int port) {
    bool sent = false;
    for (const std::string& to : platform::BroadcastTargets()) {
        try {
            sent = via.SendTo(data, to, port) || sent;
        } catch (...) {
            // A send error ends nothing: the round goes on.
        }
    }
    return sent;
}

void SendSq610Probe(int port, IDatagramPort& via) {
    Broadcast(via, Sq610Probe(), port);
}
void SendMoiProbe(int port, IDatagramPort& via) {
    Broadcast(via, MoiProbe(), port);
}
void SendUicamProbe(int port, IDatagramPort& via) {
    Broadcast(via, UicamProbe(), port);
}
void SendCtpSearchProbe(int port, IDatagramPort& via) {
    Broadcast(via, CtpSearchProbe(), port);
}
void SendBinaryProbe(int port, IDatagramPort& via) {
    Broadcast(via, BinaryProbe(), port);
}

// ---- helpers ----

std::string TypeLetter(int code) {
    switch (code) {
    case 0:
    case 5:
        return "E";
    case 1:
        return "M";
    case 2:
    case 11:
        return "F";
    case 3:
        return "F1";
    case 4:
    case 8:
        return "H";
    case 6:
        return "V";
    case 7:
        return "F2";
    case 9:
        return "T";
    case 10:
        return "C";
    case StandardCameraType:
        return "S";
    case 999:
        return "NAS";
    default:
        return "";
    }
}

std::string HexBytes(const unsigned char* bytes, size_t count) {
    return HexText(bytes, count);
}

namespace {
template <class TLines> bool FindKey(std::string_view key, const TLines& lines, std::string& value) {
    for (std::string_view line : lines)
        if (line.substr(0, key.size()) == key) {
            std::string_view v =
                line.size() > key.size() + 1 ? line.substr(key.size() + 1) : std::string_view();
            // A text ends at its first zero byte: what a C reader would not show is not kept.
            value.assign(v.substr(0, v.find('\0')));
            return true;
        }
    return false;
}
} // namespace

bool FindKeyValue(const std::string& key, const std::vector<std::string>& lines, std::string& value) {
    return FindKey(key, lines, value);
}

// ---- parsers ----

bool ParseMoiReply(std::string_view datagram, TDevInfo& r) {
    TDatagram d(datagram.substr(0, moi::Inspected));
    if (!StartsWith(datagram, "MO_I") || d.LE16(moi::OpOffset) != 1) return false;
    uint32_t length = d.LE32(moi::LengthOffset);
    if (length != 64 && length != 65 && length != 195) return false;
    const size_t b = moi::HeadSize;
    r.MAC = d.Text(b + moi::Id, 13);
    r.MACHex = NormalizeMac(r.MAC);
    r.DevName = ValidUtf8(d.Text(b + moi::Name, 21));
    r.IP = d.Ip(b + moi::Ip);
    r.Mask = d.Ip(b + moi::Mask);
    r.Gateway = d.Ip(b + moi::Gateway);
    r.DNS1 = d.Ip(b + moi::Dns);
    r.Version = Dotted4(d, b + moi::Version1) + ":" + Dotted4(d, b + moi::Version2);
    r.HttpPort = d.BE16(b + moi::HttpPort);
    r.DHCP = 2;
    if (length == 195) {
        r.DHCP = d.At(b + moi::Mode) == 1 ? 1 : 2;
        r.DdnsHost = d.Text(b + moi::DdnsHost, 65);
        r.DdnsUser = d.Text(b + moi::DdnsUser, 65);
    }
    r.DevType = 2;
    return true;
}

bool ParseTextReply(std::string_view datagram, TDevInfo& r) {
    std::vector<std::string_view> lines;
    lines.reserve(16);
    for (size_t pos = 0; pos <= datagram.size();) {
        size_t eol = datagram.find("\r\n", pos);
        lines.push_back(
            datagram.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos));
        if (eol == std::string_view::npos) break;
        pos = eol + 2;
    }
    std::string v;
    if (FindKey("-sn", lines, v)) r.DeviceID = v;
    if (FindKey("-name", lines, v)) r.DevName = v;
    if (FindKey("-ip", lines, v)) r.IP = v;
    if (FindKey("-netmask", lines, v)) r.Mask = v;
    if (FindKey("-portctp", lines, v)) {
        // Not a number, or a number that would wrap in 16 bits, reads as 80.
        char* end = nullptr;
        long n = v.empty() ? 0 : std::strtol(v.c_str(), &end, 10);
        r.HttpPort =
            (!v.empty() && end && *end == '\0' && n >= 1 && n <= 65535) ? static_cast<uint16_t>(n) : 80;
    }
    if (FindKey("-mdns", lines, v)) r.DNS1 = v;
    if (FindKey("-sdns", lines, v)) r.DNS2 = v;
    if (FindKey("-mac", lines, v)) {
        std::string mac;
        for (char c : v)
            if (c != ':') mac += c;
        r.MAC = mac;
        r.MACHex = NormalizeMac(mac);
    }
    if (FindKey("-gw", lines, v)) r.Gateway = v;
    if (FindKey("-ddnsuser", lines, v)) r.DdnsUser = v;
    if (FindKey("-ddnspswd", lines, v)) r.DdnsPassword = v;
    if (FindKey("-ddns", lines, v)) r.DdnsHost = v;
    if (FindKey("-version", lines, v)) r.Version = v;
    r.DevType = 5;
    r.DHCP = 2;
    return true;
}

namespace {
// The binary dialect: at least three bytes, the first two 0x10.
bool IsBinary(std::string_view d) {
    return d.size() >= 3 && d[0] == 0x10 && d[1] == 0x10;
}
} // namespace

uint16_t BinaryCommand(std::string_view datagram) {
    return IsBinary(datagram) ? TDatagram(datagram).LE16(bin::CommandOffset) : 0;
}

bool BinaryOfferFollowUp(std::string_view datagram, std::string& request) {
    if (BinaryCommand(datagram) != binary::Offer) return false;
    request = FollowUp(datagram, binary::InfoRequest, bin::OfferCopyFrom);
    return true;
}

bool BinaryInfoRecord(std::string_view datagram, TDevInfo& r, std::string& request) {
    if (BinaryCommand(datagram) != binary::Info) return false;
    TDatagram d(datagram);
    r.IP = d.Text(bin::Ip);
    r.Mask = d.Text(bin::Mask);
    r.Gateway = d.Text(bin::Gateway);
    r.DNS1 = d.Text(bin::Dns1);
    r.DNS2 = d.Text(bin::Dns2);
    r.HttpPort = d.LE16(bin::HttpPort);
    r.Port2 = d.LE16(bin::Port2);
    unsigned char mac[6], id[7];
    d.Copy(bin::Mac, mac, sizeof mac);
    d.Copy(bin::DeviceId, id, sizeof id);
    r.MAC = HexBytes(mac, sizeof mac);
    r.MACHex = NormalizeMac(r.MAC);
    r.AuxNumber = d.LE16(bin::Number);
    r.DeviceID = HexBytes(id, sizeof id);
    r.DHCP = d.At(bin::Mode) ? 1 : 2;
    r.DevName = ValidUtf8(d.Text(bin::Name));
    r.Version = d.Text(bin::Version);
    r.Reserved = 0;
    r.DevType = 8;
    request = FollowUp(datagram, binary::DdnsRequest, bin::InfoCopyFrom);
    return true;
}

bool ParseBinaryDdns(std::string_view datagram, std::string& mac, std::string& host, std::string& user,
                     std::string& password) {
    if (BinaryCommand(datagram) != binary::Ddns) return false;
    TDatagram d(datagram);
    unsigned char m[6];
    d.Copy(bin::Mac, m, sizeof m);
    mac = HexBytes(m, sizeof m);
    host = d.Text(bin::DdnsHost);
    user = d.Text(bin::DdnsUser);
    password = d.Text(bin::DdnsPassword);
    return true;
}

bool AnswerBinaryOffer(std::string_view datagram, IDatagramPort& via, int port) {
    std::string request;
    if (!BinaryOfferFollowUp(datagram, request)) return false;
    Broadcast(via, request, port);
    return true;
}

bool ParseBinaryInfo(std::string_view datagram, TDevInfo& record, IDatagramPort& via, int port) {
    std::string request;
    if (!BinaryInfoRecord(datagram, record, request)) return false;
    Broadcast(via, request, port);
    return true;
}

bool ParseReply(std::string_view datagram, TDevInfo& record, const TFindRow& findRow, IDatagramPort& via,
                int port) {
    std::string followUp;
    bool row = ReadReplyDatagram(datagram, record, findRow, followUp);
    if (!followUp.empty()) Broadcast(via, followUp, port);
    return row;
}

bool ReadReplyDatagram(std::string_view datagram, TDevInfo& record, const TFindRow& findRow,
                       std::string& followUp) {
    followUp.clear();
    if (StartsWith(datagram, "MO_I")) return ParseMoiReply(datagram, record);
    if (StartsWith(datagram, "REPLY")) return ParseTextReply(datagram, record);
    if (!IsBinary(datagram)) return false;
    if (BinaryOfferFollowUp(datagram, followUp)) return false;
    if (BinaryInfoRecord(datagram, record, followUp)) return true;
    std::string mac, host, user, password;
    if (ParseBinaryDdns(datagram, mac, host, user, password)) {
        if (const TDevInfo* row = findRow ? findRow(mac) : nullptr) {
            record = *row;
            record.DdnsHost = host;
            record.DdnsUser = user;
            record.DdnsPassword = password;
        }
        return true;
    }
    return false;
}
