#include "CameraIdentity.h"

#include "base/Text.h"

namespace {

thread_local TIdentityNotes* tNotes = nullptr;

bool NameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

std::string PageVariable(const std::string& body, const std::string& key) {
    if (key.empty()) return {};
    for (size_t at = body.find(key); at != std::string::npos; at = body.find(key, at + 1)) {
        if (at > 0 && NameChar(body[at - 1])) continue;
        size_t p = at + key.size();
        while (p < body.size() && body[p] == ' ')
            ++p;
        if (p >= body.size() || body[p] != '=') continue;
        ++p;
        while (p < body.size() && body[p] == ' ')
            ++p;
        if (p < body.size() && (body[p] == '"' || body[p] == '\'')) {
            size_t end = body.find(body[p], p + 1);
            // A quote that never closes leaves the value unknown, not the rest of the page.
            return end == std::string::npos ? std::string() : body.substr(p + 1, end - p - 1);
        }
        size_t end = body.find_first_of(";\r\n", p);
        return body.substr(p, end == std::string::npos ? std::string::npos : end - p);
    }
    return {};
}

std::string UsableName(const std::string& text) {
    std::string name = TrimText(text);
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return {};
    return name.size() <= MaxCameraName ? name : std::string();
}

TCameraIdentity StatusPageIdentity(const std::string& body) {
    return {"", UsableName(PageVariable(body, "alias"))};
}

TIdentityNotes::TIdentityNotes() : FOuter(tNotes) {
    tNotes = this;
}

TIdentityNotes::~TIdentityNotes() {
    tNotes = FOuter;
}

void TIdentityNotes::Note(const TCameraIdentity& identity) {
    if (!tNotes) return;
    TCameraIdentity& seen = tNotes->FSeen;
    if (seen.Mac.empty()) seen.Mac = identity.Mac;
    if (seen.Name.empty()) seen.Name = UsableName(identity.Name);
}
