// Qt's own texts (the buttons of message boxes, the file dialog, the input box) in the language
// the operator chose, from the translations the system's Qt carries.
#pragma once

#include <QString>

#include <string>

namespace gui {

// The Qt locale name of one of our language codes ("jp" -> "ja"); empty for English and codes
// Qt has no translation for.
QString QtLocaleOfLang(const std::string& code);
// Replaces the Qt translation installed before with the one of the language; false when the
// system has none for it (Qt's English texts then show).
bool LoadQtTranslations(const std::string& code);

} // namespace gui
