// The binary dialect: offers, information and DDNS replies, and the follow-ups they cause.
#include "discovery/SearchReplies.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
struct TCount : IDatagramPort {
    bool SendTo(const std::string& data, const std::string&, int) override {
        if (data.size() != binary::HeadSize + binary::FollowUpPayload) std::abort();
        return true;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view d(reinterpret_cast<const char*>(data), size);
    TCount sent;
    TDevInfo listed;
    listed.MAC = "001a2b3c4d5e";
    TFindRow find = [&](const std::string& mac) { return mac == listed.MAC ? &listed : nullptr; };
    TDevInfo r;
    r.ClearForDatagram();
    ParseReply(d, r, find, sent, 6801);
    return 0;
}
