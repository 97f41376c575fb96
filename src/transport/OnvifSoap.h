// The ONVIF device service as a client speaks it: SOAP 1.2 over HTTP POST, WS-Security
// UsernameToken with a password digest, HTTP digest answered where a camera asks for it, and
// the reading of the answers with libxml2 (no DTD, no entity expansion, no network access).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace onvif {

// The most an answer of the device service may hold; more is a failed request.
inline constexpr size_t MaxAnswer = 1 << 20;
// Element texts kept from one answer, and the longest kept text: a hostile answer costs at most
// what it weighs.
inline constexpr size_t MaxValues = 256;
inline constexpr size_t MaxText = 2048;

inline constexpr const char* DeviceNs = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr const char* SchemaNs = "http://www.onvif.org/ver10/schema";

// One answer of the device service, as far as it could be read.
struct TSoapAnswer {
    bool Parsed = false;     // a SOAP envelope with a body
    bool Fault = false;      // the body is a SOAP fault
    std::string FaultCode;   // the innermost subcode's local name ("NotAuthorized"), else the code's
    std::string FaultReason; // the first reason text
    // The text of the first element of each local name below the body (entities of the five
    // predefined kinds decoded, character references too).
    std::map<std::string, std::string, std::less<>> Values;

    std::string Value(std::string_view localName) const;
};

// Reads an answer; Parsed stays false for anything that is no SOAP envelope, has a document type
// declaration, is larger than MaxAnswer or is no well-formed XML.
TSoapAnswer ParseAnswer(std::string_view xml);

// A request as a device reads it: the operation (the body's first element) and the
// UsernameToken of the WS-Security header, if any. Same limits as an answer.
struct TSoapRequest {
    bool Parsed = false;
    std::string Operation;
    std::string Username, Password, PasswordType, Nonce, Created;
    std::map<std::string, std::string, std::less<>> Values; // below the body, as in an answer
};
TSoapRequest ParseRequest(std::string_view xml);

// The ISO 8601 duration of an answer (PnDTnHnMnS, fractions of seconds allowed) in
// milliseconds; -1 when it is none or longer than a day.
int64_t ParseDuration(std::string_view text);

// Base64(SHA-1(nonce + created + password)), the WS-Security password digest.
std::string PasswordDigest(std::string_view nonce, std::string_view created, std::string_view password);
// A time as xs:dateTime in UTC with milliseconds: 2026-12-10T01:02:03.456Z.
std::string UtcText(std::chrono::system_clock::time_point t);
// Escapes the five XML special characters for element text and attribute values.
std::string XmlEscape(std::string_view text);

// The envelope around a body, with a WS-Security header when a user is given; created is the
// camera's time (the local time corrected by the camera's clock offset).
std::string Envelope(std::string_view body, const std::string& user = "", const std::string& password = "",
                     std::chrono::system_clock::time_point created = {});

// The camera's UTC clock from a GetSystemDateAndTime answer; false when it names none.
bool CameraUtcTime(const TSoapAnswer& a, std::chrono::system_clock::time_point& t);

struct TCallResult {
    bool Reached = false; // an HTTP answer came
    long Status = 0;
    TSoapAnswer Answer;
    std::string Error; // the client's error text when not reached
};

// POSTs an envelope to the device service URL with the SOAP action; the camera is never reached
// through a proxy. A camera that answers 401 gets the request again, with a fresh envelope and
// HTTP digest authentication of user and password.
TCallResult Call(const std::string& url, const std::string& action,
                 const std::function<std::string()>& makeEnvelope, const std::string& user,
                 const std::string& password, int64_t timeoutMs);

// GetSystemDateAndTime, the one request every device must answer without an account, sent
// without any credential (no WS-Security header, no HTTP authentication, no retry): whether an
// address is a standard camera before an account goes there. timeoutMs (scaled) bounds the whole
// request, so an address that accepts and then trickles costs no more than one that is silent.
TCallResult AskClock(const std::string& url, int64_t timeoutMs);

// Whether a fault says the request was not authorized (a WS-Security refusal or HTTP 401).
bool IsNotAuthorized(const TCallResult& r);
// Whether a fault says the device does not do what was asked.
bool IsNotSupported(const TCallResult& r);

// A file sent as an HTTP POST body, between an optional head and tail (the parts of an MTOM
// message), streamed from disk with the session's progress; no proxy.
struct TPostResult {
    bool Reached = false;
    long Status = 0;
    std::string Body; // at most MaxAnswer
    std::string Error;
};
TPostResult PostFile(const std::string& url, const std::string& contentType, const std::string& file,
                     const std::string& head, const std::string& tail, const std::string& user,
                     const std::string& password, int64_t connectMs, int64_t readMs);

// The host of an http(s) URL ("" for anything else), for comparing a camera's upload address
// with its own.
std::string UrlHost(std::string_view url);

} // namespace onvif
