#include "SimWsd.h"

#include "platform/Fd.h"
#include "platform/Platform.h"
#include "transport/OnvifSoap.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace sim {

std::string ProbeMatches(const std::string& relatesTo, const std::string& uuid, const std::string& name,
                         const std::string& address, int httpPort) {
    std::string encoded;
    for (char c : name)
        encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    encoded = onvif::XmlEscape(encoded);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
           "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"><SOAP-ENV:Header>"
           "<wsa:MessageID>uuid:5e1b7a4c-0000-4000-8000-000000000001</wsa:MessageID>"
           "<wsa:RelatesTo>" +
           relatesTo +
           "</wsa:RelatesTo><wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</"
           "wsa:Action>"
           "</SOAP-ENV:Header><SOAP-ENV:Body><d:ProbeMatches><d:ProbeMatch><wsa:EndpointReference>"
           "<wsa:Address>urn:uuid:" +
           onvif::XmlEscape(uuid) +
           "</wsa:Address></wsa:EndpointReference><d:Types>dn:NetworkVideoTransmitter</d:Types>"
           "<d:Scopes>onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/name/" +
           encoded + " onvif://www.onvif.org/hardware/SIM</d:Scopes><d:XAddrs>http://" + address + ":" +
           std::to_string(httpPort) +
           "/onvif/device_service</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch>"
           "</d:ProbeMatches></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

TWsdCamera::TWsdCamera(std::string address, int httpPort, std::string name, std::string uuid)
    : FAddress(std::move(address)), FName(std::move(name)), FUuid(std::move(uuid)), FPort(httpPort) {
    FThread = std::thread([this] { Run(); });
}

TWsdCamera::~TWsdCamera() {
    FStop = true;
    FWake.Signal();
    if (FThread.joinable()) FThread.join();
}

std::string TWsdCamera::Describe() const {
    return "camera WS-Discovery " + FAddress + ":" + std::to_string(FPort) + " name=" + FName;
}

void TWsdCamera::Run() {
    platform::TFd s(platform::OpenSocket(SOCK_DGRAM, true));
    if (!s.Valid() || !platform::BindIPv4(s.Get(), "127.255.255.255", 3702)) return;
    std::string buf(65536, '\0');
    while (!FStop) {
        if (!FWake.WaitReadable(s.Get(), -1)) continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(s.Get(), buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0) continue;
        std::string_view probe(buf.data(), static_cast<size_t>(n));
        if (probe.find("Probe") == std::string_view::npos ||
            probe.find("NetworkVideoTransmitter") == std::string_view::npos ||
            probe.find("ProbeMatches") != std::string_view::npos)
            continue;
        size_t id = probe.find("uuid:");
        std::string relatesTo =
            id == std::string_view::npos ? "" : std::string(probe.substr(id, probe.find('<', id) - id));
        std::string answer = ProbeMatches(relatesTo, FUuid, FName, FAddress, FPort);
        sendto(s.Get(), answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        ++FAnswers;
    }
}

} // namespace sim
