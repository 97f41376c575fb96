#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace gui {

QString QtLocaleOfLang(const std::string& code) {
    static const std::pair<const char*, const char*> map[] = {
        {"jp", "ja"}, {"cn", "zh_CN"}, {"b5", "zh_TW"}, {"fr", "fr"}, {"spa", "es"}, {"Ita", "it"},
    };
    for (auto [ours, qt] : map)
        if (code == ours) return qt;
    return {};
}

bool LoadQtTranslations(const std::string& code) {
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    QString locale = QtLocaleOfLang(code);
    if (locale.isEmpty()) return false;
    auto t = std::make_unique<QTranslator>();
    if (!t->load("qtbase_" + locale, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return false;
    QCoreApplication::installTranslator(t.get());
    installed = std::move(t);
    return true;
}

} // namespace gui
