// Translation of a whole window from the current language file. Qt's class tree does not match
// the kinds the language files were written for, so every translated component says its kind
// explicitly when the window registers it, in the window's component order.
#pragma once

#include <QObject>
#include <QString>

#include <initializer_list>
#include <vector>

class QPushButton;

namespace lang {

enum class TKind {
    StatusBar,  // font only
    Panel,      // caption
    Label,      // caption
    CheckBox,   // caption
    Button,     // caption, hint
    MenuItem,   // caption, no font
    GroupBox,   // caption
    ListView,   // column headings
    ComboBox,   // items
    SaveDialog, // filter, no font
};

struct TComponent {
    QObject* Object;
    QString Name;
    TKind Kind;
};

// A window that translates: its component name and its components in order.
class TTranslatable {
  public:
    virtual ~TTranslatable() = default;
    virtual QString FormName() const = 0;
    virtual QWidget* FormWidget() = 0;
    const std::vector<TComponent>& Components() const { return FComponents; }

  protected:
    // Registers obj under name (also its objectName) as a component of the kind.
    void Own(QObject* obj, const QString& name, TKind kind);

  private:
    std::vector<TComponent> FComponents;
};

// Applies the current language file to the form, section "Form_" + section (the form's name when
// empty); every read passes the current text as the default.
void TranslateForm(TTranslatable& form, const QString& section = QString());

// The language's font (face, size) on a Qt font; the design's face names are substituted with
// installed fonts that show the language.
void ApplyLangFont(const std::string& code, QFont& font);
void InstallFontSubstitutions();

// Each button at least the designed size and at least what its translated text needs.
void FitButtons(std::initializer_list<QPushButton*> buttons, int width, int height);

// "Text files (*.txt)|*.txt|All|*.*" and the designed "*.txt|*.*" as Qt name filters.
QString QtFilter(const QString& designFilter);

} // namespace lang
