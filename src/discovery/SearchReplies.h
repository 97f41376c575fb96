// The LAN search datagrams: the probes, the reply parsers and the binary follow-ups.
#pragma once

#include "UdpListener.h"
#include "base/DevInfo.h"
#include "transport/CtpSearch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// ---- the search datagrams ----

namespace probe {
// Destination ports of the probes.
inline constexpr int Sq610Port = 4000;
inline constexpr int MoiPort = 10000;
inline constexpr int UicamPort = 10139;
inline constexpr int CtpSearchPort = ::CtpSearchPort;
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

// A standard camera found by WS-Discovery (the external search library): upgraded through ONVIF.
inline constexpr int StandardCameraType = 12;
std::string TypeLetter(int code);
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
// The dispatcher without the sends: followUp is the binary request to broadcast next, or empty.
bool ReadReplyDatagram(std::string_view datagram, TDevInfo& record, const TFindRow& findRow,
                       std::string& followUp);
bool ParseReply(std::string_view datagram, TDevInfo& record, const TFindRow& findRow, IDatagramPort& via,
                int port);
