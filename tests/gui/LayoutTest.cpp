// Every text shows whole: in both languages, in the main window and in the search dialog (empty
// and with rows), no label, button or list column is narrower or lower than its text, measured
// with Qt's font metrics. CTest runs this program at 96 and at 144 DPI (QT_FONT_DPI).
#include "gui/MainWindow.h"
#include "gui/SearchDialog.h"
#include "lang/Lang.h"
#include "transport/DeviceControlLibrary.h"

#include "GuiSandbox.h"
#include "support/Sandbox.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// What does not fit, one line per fault; empty when everything does.
std::string Clipped(QWidget* top) {
    std::string faults;
    auto fault = [&](QWidget* w, const QString& text, QSize need, QSize have) {
        faults += (w->objectName().isEmpty() ? std::string(w->metaObject()->className())
                                             : w->objectName().toStdString()) +
                  " \"" + text.left(30).toStdString() + "\" needs " + std::to_string(need.width()) + "x" +
                  std::to_string(need.height()) + ", has " + std::to_string(have.width()) + "x" +
                  std::to_string(have.height()) + "\n";
    };
    for (QLabel* l : top->findChildren<QLabel*>()) {
        if (!l->isVisibleTo(top) || l->text().isEmpty()) continue;
        QRect box = l->contentsRect();
        QFontMetrics fm(l->font());
        QRect need = l->wordWrap() ? fm.boundingRect(QRect(0, 0, box.width(), 100000),
                                                     Qt::TextWordWrap | int(l->alignment()), l->text())
                                   : QRect(0, 0, fm.horizontalAdvance(l->text()), fm.height());
        if (need.width() > box.width() || need.height() > box.height())
            fault(l, l->text(), need.size(), box.size());
        // A label beside its field keeps a gap before it.
        QWidget* buddy = l->buddy();
        if (!l->wordWrap() && buddy && buddy->isVisibleTo(top) &&
            buddy->parentWidget() == l->parentWidget() && buddy->geometry().top() < l->geometry().bottom() &&
            buddy->x() > l->x()) {
            int gap = buddy->x() - (l->x() + box.left() + fm.horizontalAdvance(l->text()));
            if (gap < 3) fault(l, l->text() + " touches its field", QSize(gap, 0), QSize(3, 0));
        }
    }
    for (QPushButton* b : top->findChildren<QPushButton*>()) {
        if (!b->isVisibleTo(top) || b->text().isEmpty()) continue;
        // The text (without its mnemonic mark) inside the button's frame and margins, clear of
        // the menu's arrow where it has one (the text is centred on the whole button).
        QFontMetrics fm(b->font());
        QString shown = QString(b->text()).remove(QRegularExpression("&(?!&)"));
        const QStyle* st = b->style();
        int frame = st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
                    2 * st->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        int arrow = b->menu() ? 2 * st->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, b) : 0;
        QSize need(fm.horizontalAdvance(shown) + frame + arrow, fm.height());
        if (b->width() < need.width() || b->height() < need.height()) fault(b, b->text(), need, b->size());
    }
    for (QComboBox* c : top->findChildren<QComboBox*>()) {
        if (!c->isVisibleTo(top) || c->currentText().isEmpty()) continue;
        QFontMetrics fm(c->font());
        // The shown item beside the arrow: the combo's own hint for its current text.
        QStyleOptionComboBox o;
        o.initFrom(c);
        QSize need = c->style()->sizeFromContents(
            QStyle::CT_ComboBox, &o, QSize(fm.horizontalAdvance(c->currentText()), fm.height()), c);
        if (c->width() < need.width()) fault(c, c->currentText(), need, c->size());
    }
    for (QTreeWidget* t : top->findChildren<QTreeWidget*>()) {
        QFontMetrics fm(t->font());
        for (int col = 0; col < t->columnCount(); ++col) {
            int have = t->header()->sectionSize(col);
            QSize head = QSize(t->header()->sectionSizeHint(col), 0);
            if (head.width() > have) fault(t, t->headerItem()->text(col), head, QSize(have, 0));
            for (int i = 0; i < t->topLevelItemCount(); ++i) {
                int need = fm.horizontalAdvance(t->topLevelItem(i)->text(col));
                if (need > have) fault(t, t->topLevelItem(i)->text(col), QSize(need, 0), QSize(have, 0));
            }
        }
        if (t->horizontalScrollBar()->maximum() > 0)
            fault(t, "sideways scrolling", QSize(t->header()->length(), 0), t->viewport()->size());
    }
    return faults;
}

class Layout : public TGuiSandbox {};

} // namespace

TEST_F(Layout, EveryTextOfBothWindowsShowsWholeInBothLanguages) {
    Window = std::make_unique<TfrmUpgradeSoft>();
    Window->show();
    TfrmAdv_Main* dialog = Window->SearchDialog();
    dialog->findChild<QTimer*>("Timer1")->stop();
    for (const char* code : {"en", "jp"}) {
        SCOPED_TRACE(code);
        Choose(code);
        // The rarely shown controls too: the series list with its label, and the progress bar.
        Window->findChild<QLabel*>("lblIPCType")->show();
        Window->findChild<QComboBox*>("cmbMType")->show();
        QTest::qWait(100);
        EXPECT_EQ(Clipped(Window.get()), "");
        dialog->Engine().ClearDeviceList();
        dialog->show();
        QTest::qWait(100);
        EXPECT_EQ(Clipped(dialog), "") << "empty";
        TDevInfo d;
        d.DevType = 11;
        d.MAC = "std";
        d.IP = "192.168.100.200";
        d.HttpPort = 65535;
        d.DevName = "Standard ONVIF camera";
        dialog->Engine().OnFound(d);
        d.MAC = "cn";
        d.DevType = 5;
        d.DevName = "网络摄像机网络摄像机";
        dialog->Engine().OnFound(d);
        QTest::qWait(100);
        EXPECT_EQ(Clipped(dialog), "") << "with rows";
        dialog->hide();
    }
}

TEST_F(Layout, AtTheDesignedDpiTheWindowsKeepTheirDesignedSize) {
    if (QFontMetrics(QFont()).fontDpi() != 96) GTEST_SKIP() << "only at 96 DPI";
    Window = std::make_unique<TfrmUpgradeSoft>();
    Window->show();
    QTest::qWait(100);
    // The offscreen screen is 800 x 600: the window is as wide as designed and as high as the
    // screen lets it be; the log takes what is left.
    EXPECT_EQ(Window->width(), 789);
    EXPECT_EQ(Window->height(), std::min(607, Window->screen()->availableGeometry().height()));
    TfrmAdv_Main* dialog = Window->SearchDialog();
    dialog->show();
    QTest::qWait(100);
    // As high as designed; as wide as designed unless the 12-point list's columns need more.
    EXPECT_EQ(dialog->height(), 359);
    EXPECT_GE(dialog->width(), 381);
    EXPECT_LE(dialog->width(), 400);
    dialog->hide();
}

TEST_F(Layout, AWindowTallerThanTheScreenScrollsAndCanBeMadeSmaller) {
    Window = std::make_unique<TfrmUpgradeSoft>();
    Window->show();
    QTest::qWait(100);
    QRect screen = Window->screen()->availableGeometry();
    EXPECT_LE((Window->frameGeometry().center() - screen.center()).manhattanLength(), 2)
        << "centred at start";
    EXPECT_LE(Window->height(), screen.height());
    EXPECT_LE(Window->minimumSizeHint().height(), 200);
    Window->resize(Window->width(), 300);
    QTest::qWait(100);
    EXPECT_EQ(Window->height(), 300);
    auto* scroll = Window->findChild<QScrollArea*>("Scroll");
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0) << "the rest is reached by scrolling";
    // The main window is centred on the screen; the dialog over the main window.
    Window->resize(789, 500);
    Window->move(screen.center() - QPoint(789, 500) / 2);
    Window->SearchDialog()->show();
    QTest::qWait(100);
    QPoint off = Window->SearchDialog()->frameGeometry().center() - Window->frameGeometry().center();
    EXPECT_LE(off.manhattanLength(), 4) << off.x() << "," << off.y();
    Window->SearchDialog()->hide();
}

TEST_F(Layout, TheProgressBarFitsInTheWindowWithoutScrolling) {
    Window = std::make_unique<TfrmUpgradeSoft>();
    Window->show();
    // Japanese: its longer help text leaves the window the least room to spare.
    Choose("jp");
    auto* scroll = Window->findChild<QScrollArea*>("Scroll");
    if (scroll->verticalScrollBar()->maximum() > 0 || scroll->horizontalScrollBar()->maximum() > 0)
        GTEST_SKIP() << "the window is larger than this screen";
    // The log gives up the bar's room; the window neither scrolls nor loses its right edge.
    Window->findChild<QWidget*>("pbProgress")->show();
    QTest::qWait(100);
    EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(scroll->horizontalScrollBar()->maximum(), 0);
}
