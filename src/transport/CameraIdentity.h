// What a camera says of itself (its MAC and its name) on the pages a session reads anyway.
// Reports carry them so that they join an inventory when addresses come from DHCP.
#pragma once

#include <string>

struct TCameraIdentity {
    std::string Mac; // as the camera writes it
    std::string Name;
};

// The longest name taken from a camera; a longer one is no name (the search's widest is 80).
inline constexpr size_t MaxCameraName = 80;

// The value of a variable of a status page (var key="value"; with either quote, or none up to
// the next ";" or line end); empty when the page has no such variable. A key is found only as a
// whole name: "xalias" is no "alias".
std::string PageVariable(const std::string& body, const std::string& key);

// A name as a camera gave it, trimmed; empty when it is longer than MaxCameraName or holds a
// control character.
std::string UsableName(const std::string& text);

// What a status page says of the camera: its alias, the name it was given (the one its search
// answers carry), as UsableName takes it.
TCameraIdentity StatusPageIdentity(const std::string& body);

// Collects, while it lives, what the camera requests made on this thread learn of the camera:
// the first MAC and the first name. A session has one; sessions side by side each their own, on
// their own threads.
class TIdentityNotes {
  public:
    TIdentityNotes();
    ~TIdentityNotes();
    TIdentityNotes(const TIdentityNotes&) = delete;
    TIdentityNotes& operator=(const TIdentityNotes&) = delete;

    const TCameraIdentity& Seen() const { return FSeen; }
    // Adds what a page or an answer said to the notes of this thread, when it has any; the name
    // as UsableName takes it.
    static void Note(const TCameraIdentity& identity);

  private:
    TCameraIdentity FSeen;
    TIdentityNotes* FOuter;
};
