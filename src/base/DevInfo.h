// The record that every LAN search path fills for a device it found: the system's own probes,
// the device-control library's search and the external search library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct TDevInfo {
    int32_t Reserved = 0;
    int32_t DevType = 0; // -1: nothing to list
    std::string MAC;     // the dialog's de-duplication key, compared as exact text
    std::string MACHex;
    std::string DeviceID;
    std::string DevName;
    std::string Version;
    std::string IP;
    std::string Mask;
    std::string Gateway;
    std::string AuxText;
    uint8_t AuxFlag = 0;
    std::string DNS1;
    std::string DNS2;
    uint16_t HttpPort = 0;
    uint16_t Port2 = 0;
    uint16_t AuxWord = 0;
    uint8_t DHCP = 0; // 1 DHCP, 2 fixed
    uint8_t AuxMark = 0;
    std::string DdnsUser;
    std::string DdnsPassword;
    std::string DdnsHost;
    std::string DdnsExtra;
    int32_t AuxCode = 0;
    std::string AuxString;
    int32_t AuxInt = 0;
    std::string Spare1;
    std::string Spare2;
    std::string ReplyUser;
    std::string ReplyPassword;
    int32_t AuxValue = 0;
    int32_t Countdown = 0;
    // A block the search dialog releases with its row; shared so that a copy never frees it twice.
    std::shared_ptr<void> OwnedBlock;
    uint16_t AuxNumber = 0;
    // The address the reply came from (the datagram's sender); empty when no datagram told it.
    // A device whose IP equals its Source answered for itself.
    std::string Source;

    // Every number 0, every text empty, no block.
    void Clear() { *this = TDevInfo{}; }
    // The dialog's start value for a datagram: cleared, nothing to list yet.
    void ClearForDatagram() {
        Clear();
        DevType = -1;
    }
    bool Listable() const { return DevType != -1; }
    bool AnsweredForItself() const { return !Source.empty() && Source == IP; }
};

// A MAC text as the list compares it: "-" and ":" removed, blanks turned into "0", upper case.
std::string NormalizeMac(const std::string& text);
// A row's MAC as twelve hexadecimal digits: its MACHex, else its MAC text normalised.
std::string RowMac(const TDevInfo& row);
