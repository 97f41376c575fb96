#include "SimSearch.h"

#include <arpa/inet.h>

#include <cstring>

namespace sim {

namespace {

void Put(std::string& d, size_t at, std::string_view bytes) {
    if (d.size() < at + bytes.size()) d.resize(at + bytes.size(), '\0');
    d.replace(at, bytes.size(), bytes);
}

void PutText(std::string& d, size_t at, const std::string& text, size_t field) {
    Put(d, at, text.substr(0, field - 1));
}

std::string Le16(int v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

std::string Ip4(const std::string& dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return std::string(reinterpret_cast<const char*>(&a), 4);
}

// "48.2.0.10" as four bytes.
std::string Version4(const std::string& v) {
    std::string out(4, '\0');
    size_t pos = 0;
    for (int i = 0; i < 4 && pos <= v.size(); ++i) {
        out[static_cast<size_t>(i)] = static_cast<char>(std::atoi(v.c_str() + pos));
        size_t dot = v.find('.', pos);
        if (dot == std::string::npos) break;
        pos = dot + 1;
    }
    return out;
}

std::string MacBytes(const TSearchIdentity& c) {
    return std::string(reinterpret_cast<const char*>(c.Mac), 6);
}

std::string MacText(const TSearchIdentity& c, bool colons) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 6; ++i) {
        if (colons && i) out += ':';
        out += hex[c.Mac[i] >> 4];
        out += hex[c.Mac[i] & 15];
    }
    return out;
}

std::string BinaryHead(uint16_t command, uint16_t length) {
    return std::string("\x10\x10", 2) + Le16(command) + std::string("\xAB\xCD", 2) + Le16(length);
}

std::vector<std::string> TextReply(const TSearchIdentity& c) {
    return {"REPLY\r\n-name " + c.Name + "\r\n-sn SIM" + std::to_string(c.HttpPort) + "\r\n-ip " + c.Address +
            "\r\n-netmask 255.0.0.0\r\n-portctp " + std::to_string(c.HttpPort) + "\r\n-mac " +
            MacText(c, true) +
            "\r\n-dhcpen 0\r\n-mdns 127.0.0.53\r\n-sdns 0.0.0.0\r\n-gw 127.0.0.1\r\n-version v " +
            c.SysVersion + " build\r\n"};
}

std::vector<std::string> MoiReply(const TSearchIdentity& c) {
    const size_t b = 23;
    std::string d(b + 195, '\0');
    Put(d, 0, "MO_I");
    Put(d, 4, Le16(1));
    Put(d, 15, Le16(195));
    PutText(d, b, MacText(c, false), 13);
    PutText(d, b + 13, c.Name, 21);
    Put(d, b + 34, Ip4(c.Address));
    Put(d, b + 38, Ip4("255.0.0.0"));
    Put(d, b + 42, Ip4("127.0.0.1"));
    Put(d, b + 46, Ip4("127.0.0.53"));
    Put(d, b + 54, Version4(c.SysVersion));
    Put(d, b + 58, Version4(c.AppVersion));
    Put(d, b + 62, std::string{static_cast<char>(c.HttpPort >> 8), static_cast<char>(c.HttpPort & 0xFF)});
    Put(d, b + 64, std::string(1, '\x02'));
    PutText(d, b + 65, "sim.ddns.invalid", 65);
    return {d};
}

std::vector<std::string> BinaryAnswers(const TSearchIdentity& c, std::string_view d) {
    if (d.size() < 8 || d[0] != 0x10 || d[1] != 0x10) return {};
    uint16_t command = static_cast<uint16_t>(static_cast<uint8_t>(d[2]) | static_cast<uint8_t>(d[3]) << 8);
    if (command == 0x0F01) {
        // The offer carries the camera's MAC first in the 128 bytes the follow-up echoes, so the
        // camera knows the information request that comes back is meant for it.
        std::string offer =
            BinaryHead(0x8F01, 132) + std::string(4, '\0') + MacBytes(c) + std::string(122, '\0');
        return {offer};
    }
    if (command == 0x0F12) {
        if (d.size() < 14 || d.substr(8, 6) != MacBytes(c)) return {};
        std::string info = BinaryHead(0x8F12, 300);
        PutText(info, 8, c.Address, 16);
        PutText(info, 24, "255.0.0.0", 16);
        PutText(info, 40, "127.0.0.1", 16);
        PutText(info, 56, "127.0.0.53", 16);
        PutText(info, 72, "0.0.0.0", 16);
        Put(info, 88, Le16(c.HttpPort));
        Put(info, 94, Le16(0));
        Put(info, 96, MacBytes(c));
        Put(info, 104, std::string("\x01\x02\x03\x04\x05\x06\x07", 7));
        Put(info, 111, std::string(1, '\0'));
        PutText(info, 112, c.Name, 24);
        PutText(info, 136, c.SysVersion, 32);
        info.resize(300, '\0');
        return {info};
    }
    if (command == 0x0F0F) {
        // The echo holds the information reply's bytes 8 to 135: the MAC sits at 96 - 8.
        if (d.size() < 8 + 94 || d.substr(8 + 88, 6) != MacBytes(c)) return {};
        std::string ddns = BinaryHead(0x8F0F, 400);
        Put(ddns, 96, MacBytes(c));
        PutText(ddns, 142, "sim.ddns.invalid", 64);
        PutText(ddns, 272, "simuser", 64);
        PutText(ddns, 336, "not-a-secret", 64);
        ddns.resize(400, '\0');
        return {ddns};
    }
    return {};
}

std::vector<std::string> ZoltReply(const TSearchIdentity& c) {
    std::string d(516, '\0');
    Put(d, 0, std::string("\x44\x48\x01\x08", 4));
    PutText(d, 4, c.Address, 16);
    PutText(d, 20, "255.0.0.0", 16);
    PutText(d, 36, "127.0.0.1", 16);
    PutText(d, 52, "127.0.0.53", 16);
    PutText(d, 68, "0.0.0.0", 16);
    Put(d, 84, MacBytes(c));
    Put(d, 90, Le16(c.HttpPort));
    PutText(d, 92, "SIM" + std::to_string(c.HttpPort), 32);
    PutText(d, 124, c.Name, 80);
    PutText(d, 204, c.SysVersion, 16);
    PutText(d, 236, "admin", 32);
    Put(d, 301, std::string(1, '\x02'));
    return {d};
}

} // namespace

int SearchPortOf(TSeries series) {
    switch (series) {
    case TSeries::E:
        return 7999;
    case TSeries::F:
        return 10000;
    case TSeries::H:
        return 6801;
    default:
        return 8600;
    }
}

std::vector<std::string> SearchAnswers(const TSearchIdentity& c, std::string_view d) {
    switch (c.Series) {
    case TSeries::E:
        return d.substr(0, 16) == "SEARCH * CTP/1.0" ? TextReply(c) : std::vector<std::string>{};
    case TSeries::F:
        // The MO_I search request: operation code 0.
        return d.size() >= 27 && d.substr(0, 4) == "MO_I" && d[4] == 0 && d[5] == 0
                   ? MoiReply(c)
                   : std::vector<std::string>{};
    case TSeries::H:
        return BinaryAnswers(c, d);
    default:
        return d.size() >= 4 && d.substr(0, 4) == std::string_view("\x44\x48\x01\x01", 4)
                   ? ZoltReply(c)
                   : std::vector<std::string>{};
    }
}

std::vector<std::string> WithSearchFaults(std::vector<std::string> answers, const TCameraFaults& f) {
    if (f.SearchSilent) return {};
    for (std::string& a : answers) {
        if (f.SearchTruncated) a.resize(a.size() / 3);
        if (f.SearchOversized) a.resize(2000, 'O');
        if (f.SearchMalformed && !a.empty()) a[0] = static_cast<char>(a[0] ^ 0x5A);
    }
    if (f.SearchFlood && !answers.empty()) answers.resize(200, answers.front());
    return answers;
}

} // namespace sim
