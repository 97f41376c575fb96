// The record that every LAN search path fills for a device it found.
#pragma once

#include "UdpListener.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

    // Every number 0, every text empty, no block.
    void Clear() { *this = TDevInfo{}; }
    // The dialog's start value for a datagram: cleared, nothing to list yet.
    void ClearForDatagram() {
        Clear();
        DevType = -1;
    }
    bool Listable() const { return DevType != -1; }
};

// ---- the search datagrams ----

namespace probe {
// Destination ports of the probes.
inline constexpr int Sq610Port = 4000;
inline constexpr int MoiPort = 10000;
inline constexpr int UicamPort = 10139;
inline constexpr int CtpSearchPort = 7999;
inline constexpr int BinaryPort = 6801;
inline constexpr int ImagiaPort = 10000;
inline constexpr const char* Imagia = "IMAGIAQUERY,0";
} // namespace probe

// The probes' bytes.
std::string Sq610Probe();
std::string MoiProbe();
std::string UicamProbe();
std::string CtpSearchProbe();
std::string BinaryProbe();

// One IPv4 interface as the system lists it (address and mask in host order).
struct TInterfaceAddress {
    std::string Name;
    uint32_t Address = 0, Mask = 0;
    bool Up = false, Loopback = false, CanBroadcast = false;
};
std::vector<TInterfaceAddress> LocalInterfaces();
// The directed broadcast address of each interface that is up, not loopback and can broadcast
// (only the named one when only is not empty), each once.
std::vector<std::string> DirectedBroadcasts(const std::vector<TInterfaceAddress>& interfaces,
                                            const std::string& only);
// Restricts the per-interface broadcasts to one interface ("" for all).
void SetSearchInterface(const std::string& name);

// Where every search datagram goes: IPCAM_BROADCAST_ADDR when it is set, else the limited
// broadcast and the directed broadcast of every IPv4 interface that is up and not loopback
// (Linux sends the limited broadcast out of one interface only).
std::vector<std::string> BroadcastTargets();
// Sends data to every broadcast target at port through via; true when one send went out.
bool Broadcast(IDatagramPort& via, const std::string& data, int port);

// Senders: each broadcasts its probe to port through the listener. Send errors are swallowed.
void SendSq610Probe(int port, IDatagramPort& via);
void SendMoiProbe(int port, IDatagramPort& via);
void SendUicamProbe(int port, IDatagramPort& via);
void SendCtpSearchProbe(int port, IDatagramPort& via);
void SendBinaryProbe(int port, IDatagramPort& via);

// ---- reply parsing: pure functions over the datagram's bytes ----
// Fields that lie, wholly or partly, past the datagram's end read as zero bytes; texts end at
// the first zero byte, the field's size or the datagram's end.

std::string TypeLetter(int code);
std::string NormalizeMac(const std::string& text);
std::string HexBytes(const unsigned char* bytes, size_t count);
// The rule of the text reply: the first line that begins with key (letter case significant)
// gives the rest of the line after the key and one separator character.
bool FindKeyValue(const std::string& key, const std::vector<std::string>& lines, std::string& value);

bool ParseMoiReply(std::string_view datagram, TDevInfo& record);
bool ParseTextReply(std::string_view datagram, TDevInfo& record);

// The binary dialect's three steps. Each follow-up is 136 bytes: the reply's 8-byte head with
// the request's command and payload length 128, then 128 bytes of the reply (zero past its end).
namespace binary {
inline constexpr size_t HeadSize = 8;
inline constexpr size_t FollowUpPayload = 128;
inline constexpr uint16_t Search = 0x0F01, Offer = 0x8F01, InfoRequest = 0x0F12, Info = 0x8F12,
                          DdnsRequest = 0x0F0F, Ddns = 0x8F0F;
} // namespace binary
// The command of a binary datagram (0 when it is none).
uint16_t BinaryCommand(std::string_view datagram);
// The follow-up request to an offer (false for anything else).
bool BinaryOfferFollowUp(std::string_view datagram, std::string& request);
// An information reply as a record, and the DDNS request that follows it.
bool BinaryInfoRecord(std::string_view datagram, TDevInfo& record, std::string& request);
bool ParseBinaryDdns(std::string_view datagram, std::string& mac, std::string& host, std::string& user,
                     std::string& password);
// The designed steps with their sends.
bool AnswerBinaryOffer(std::string_view datagram, IDatagramPort& via, int port);
bool ParseBinaryInfo(std::string_view datagram, TDevInfo& record, IDatagramPort& via, int port);

// The dispatcher for every received datagram. findRow gives the listed record whose MAC equals
// the text, or null; via and port serve the binary follow-ups.
using TFindRow = std::function<const TDevInfo*(const std::string& mac)>;
bool ParseReply(std::string_view datagram, TDevInfo& record, const TFindRow& findRow, IDatagramPort& via,
                int port);
