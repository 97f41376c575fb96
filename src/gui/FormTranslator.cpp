#include "FormTranslator.h"

#include "lang/Lang.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QWidget>

namespace lang {

namespace {

QString Read(const TLangReader& reader, const std::string& section, const QString& key,
             const QString& current) {
    return QString::fromStdString(ReadLangValue(reader, section, key.toStdString(), current.toStdString()));
}

bool SetsFont(TKind kind) {
    return kind != TKind::MenuItem && kind != TKind::SaveDialog;
}

} // namespace

void TTranslatable::Own(QObject* obj, const QString& name, TKind kind) {
    obj->setObjectName(name);
    FComponents.push_back({obj, name, kind});
}

void ApplyLangFont(const std::string& code, QFont& font) {
    TLangFont f;
    f.Size = font.pointSize() > 0 ? font.pointSize() : 8;
    ::ApplyLangFont(code, f);
    font.setFamily(QString::fromStdString(f.Face));
    font.setPointSize(f.Size);
}

void InstallFontSubstitutions() {
    // The design's faces, with installed fonts that carry Latin and CJK glyphs.
    QFont::insertSubstitutions("Tahoma", {"DejaVu Sans", "Noto Sans CJK JP", "Noto Sans CJK SC"});
    QFont::insertSubstitutions(QString::fromUtf8("宋体"), {"DejaVu Sans", "Noto Sans CJK SC"});
    QFont::insertSubstitutions("PMingLiU", {"Noto Sans CJK TC", "DejaVu Sans"});
}

void FitButtons(std::initializer_list<QPushButton*> buttons, int width, int height) {
    for (QPushButton* b : buttons) {
        b->setMinimumSize(0, 0);
        // The text with the style's margins and frame (and the menu's arrow); not the style's
        // own least width of 80, so that the designed 74 stays where the text fits. The style
        // centres the text on the whole button, so the menu's arrow is kept clear on both sides.
        QFontMetrics fm(b->font());
        const QStyle* st = b->style();
        int need = fm.size(Qt::TextShowMnemonic, b->text()).width() +
                   st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
                   2 * st->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b) +
                   (b->menu() ? 2 * st->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, b) : 0);
        b->setMinimumSize(std::max(width, need), std::max(height, fm.height() + 8));
    }
}

QString QtFilter(const QString& designFilter) {
    QStringList parts = designFilter.split('|');
    QStringList out;
    if (parts.size() == 2 && !parts[0].contains('(')) {
        // "*.txt|*.*": one pattern a filter.
        for (const QString& p : parts)
            out << p + " (" + p + ")";
        return out.join(";;");
    }
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << (parts[i].contains('(') ? parts[i]
                                       : parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")");
    return out.join(";;");
}

namespace {

void ApplyFonts(TTranslatable& form, const std::string& code) {
    QWidget* w = form.FormWidget();
    QFont wf = w->font();
    ApplyLangFont(code, wf);
    w->setFont(wf);
    for (const TComponent& c : form.Components()) {
        auto* widget = qobject_cast<QWidget*>(c.Object);
        if (widget && SetsFont(c.Kind)) {
            QFont f = widget->font();
            ApplyLangFont(code, f);
            widget->setFont(f);
        }
    }
}

} // namespace

void TranslateForm(TTranslatable& form, const QString& sectionName) {
    std::lock_guard lock(LangIniLock());
    try {
        const TLangReader& reader = LangIni();
        std::string section = "Form_" + (sectionName.isEmpty() ? form.FormName() : sectionName).toStdString();
        QWidget* w = form.FormWidget();
        w->setWindowTitle(Read(reader, section, "Caption", w->windowTitle()));
        for (const TComponent& c : form.Components()) {
            const QString n = c.Name;
            auto caption = [&](const QString& current) {
                return Read(reader, section, n + ".Caption", current);
            };
            switch (c.Kind) {
            case TKind::StatusBar:
                break;
            case TKind::Panel:
            case TKind::Label:
                if (auto* l = qobject_cast<QLabel*>(c.Object)) l->setText(caption(l->text()));
                break;
            case TKind::CheckBox:
                if (auto* b = qobject_cast<QCheckBox*>(c.Object)) b->setText(caption(b->text()));
                break;
            case TKind::Button:
                if (auto* b = qobject_cast<QPushButton*>(c.Object)) {
                    b->setText(caption(b->text()));
                    b->setToolTip(Read(reader, section, n + ".Hint", b->toolTip()));
                }
                break;
            case TKind::MenuItem:
                if (auto* a = qobject_cast<QAction*>(c.Object)) a->setText(caption(a->text()));
                break;
            case TKind::GroupBox:
                if (auto* g = qobject_cast<QGroupBox*>(c.Object)) g->setTitle(caption(g->title()));
                break;
            case TKind::ListView:
                if (auto* t = qobject_cast<QTreeWidget*>(c.Object)) {
                    QTreeWidgetItem* head = t->headerItem();
                    for (int i = 0; i < t->columnCount(); ++i)
                        head->setText(i,
                                      Read(reader, section, n + ".Columns" + QString::number(i) + ".Caption",
                                           head->text(i)));
                }
                break;
            case TKind::ComboBox:
                if (auto* cb = qobject_cast<QComboBox*>(c.Object))
                    for (int i = 0; i < cb->count(); ++i)
                        cb->setItemText(i,
                                        Read(reader, section, n + ".Items" + QString::number(i) + ".Caption",
                                             cb->itemText(i)));
                break;
            case TKind::SaveDialog:
                c.Object->setProperty(
                    "filter", Read(reader, section, n + ".Filter", c.Object->property("filter").toString()));
                break;
            }
        }
    } catch (...) {
        // The walk ends at the component that failed; what was done stays.
    }
    // The fonts after the texts: a font change measures the texts it finds, and the designed
    // Chinese ones would load CJK fonts that a window in another language never shows.
    ApplyFonts(form, CurLang());
}

} // namespace lang
