#include "SearchDialog.h"

#include "base/Text.h"
#include "discovery/SearchReplies.h"
#include "lang/Charset.h"
#include "lang/Lang.h"
#include "platform/Platform.h"

#include <QCloseEvent>

#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

TfrmAdv_Main::TfrmAdv_Main(QWidget* parent) : QDialog(parent), FSearch(std::make_unique<TLanSearch>()) {
    setWindowTitle(QString::fromUtf8("选择摄像机"));
    GroupBox1 = new QGroupBox(QString::fromUtf8("设备列表"), this);
    Own(GroupBox1, "GroupBox1", lang::TKind::GroupBox);
    ListView = new QTreeWidget(GroupBox1);
    // The list's font before its headings, so that the designed Chinese headings are not measured
    // again in it (which would load a bold CJK font before the language's headings arrive).
    ListView->setFont(QFont(QString::fromUtf8("宋体"), 12));
    ListView->setColumnCount(4);
    ListView->setHeaderLabels({QString::fromUtf8("类型"), QString::fromUtf8("名称"),
                               QString::fromUtf8("IP地址"), QString::fromUtf8("端口")});
    ListView->setRootIsDecorated(false);
    ListView->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView->setTextElideMode(Qt::ElideNone);
    // The columns fit their contents and the dialog widens for them, so no scroll bar is needed
    // sideways; the room of the vertical bar is kept whether it shows or not.
    ListView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListView->header()->setStretchLastSection(true);
    ListView->header()->setSectionsClickable(true);
    Own(ListView, "ListView", lang::TKind::ListView);
    plInfo = new QLabel(QString::fromUtf8("没有发现局域网内的网络摄像机"), ListView);
    plInfo->setAlignment(Qt::AlignCenter);
    plInfo->setWordWrap(true);
    plInfo->setStyleSheet("background: white; color: red;");
    Own(plInfo, "plInfo", lang::TKind::Panel);
    ListView->viewport()->installEventFilter(this);
    auto* list = new QVBoxLayout(GroupBox1);
    list->setContentsMargins(8, 4, 8, 8);
    list->addWidget(ListView);
    auto* Panel1 = new QWidget(this); // the bottom bar
    Panel1->setObjectName("Panel1");
    lblDevNum = new QLabel(QString::fromUtf8("共有设备："), Panel1);
    lblDevNum->setObjectName("lblDevNum"); // the theme's label: its text is set by the count, not translated
    btnFind = new QPushButton(QString::fromUtf8("查找(&F)"), Panel1);
    Own(btnFind, "btnFind", lang::TKind::Button);
    btnOK = new QPushButton(QString::fromUtf8("确定(&O)"), Panel1);
    Own(btnOK, "btnOK", lang::TKind::Button);
    btnCancel = new QPushButton(QString::fromUtf8("取消(&C)"), Panel1);
    Own(btnCancel, "btnCancel", lang::TKind::Button);
    auto* bar = new QHBoxLayout(Panel1);
    bar->setContentsMargins(8, 4, 7, 6);
    bar->setSpacing(0);
    bar->addWidget(lblDevNum, 1);
    bar->addSpacing(2);
    for (QPushButton* b : {btnFind, btnOK, btnCancel}) {
        if (b != btnFind) bar->addSpacing(6);
        bar->addWidget(b);
    }
    auto* dialog = new QVBoxLayout(this);
    dialog->setContentsMargins(4, 4, 4, 0);
    dialog->setSpacing(2);
    dialog->addWidget(GroupBox1, 1);
    dialog->addWidget(Panel1);
    resize(kWidth, kHeight);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");

    connect(btnFind, &QPushButton::clicked, this, [this] { btnFindClick(); });
    connect(btnOK, &QPushButton::clicked, this, [this] { spbExportClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(ListView->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { Engine().ColumnClick(column); });
    // The keyboard and the mouse choose the same way: the row shown as selected is the operator's
    // choice, and a click beside the rows that clears the highlight leaves none.
    connect(ListView, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (FRefreshing) return;
        // By the device the row showed, not by its place: the list may be a moment behind the rows.
        QList<QTreeWidgetItem*> chosen = ListView->selectedItems();
        Engine().Select(
            chosen.isEmpty()
                ? -1
                : Engine().IndexOfKey(chosen.first()->data(0, Qt::UserRole).toByteArray().toStdString()));
    });
    // Enter on a selected row and a double click on a row do what OK does; no button takes Enter,
    // so that Enter never searches again and loses the choice.
    connect(ListView, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (item && item->isSelected()) spbExportClick();
    });
    for (QPushButton* b : {btnFind, btnOK, btnCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(Timer1, &QTimer::timeout, this, [this] { Engine().Tick(); });
    Engine().OnRowsChanged = [this] { RefreshSoon(); };

    lang::TranslateForm(*this);
    FSearch->Start();
    FSearch->LoadExternal();
    Timer1->start(static_cast<int>(std::max<int64_t>(platform::Scaled(1000), 50)));
    Refresh();
}

TfrmAdv_Main::~TfrmAdv_Main() {
    // The same shut-down as closing with isClose: nothing calls into a half-destroyed dialog.
    Shutdown();
}

void TfrmAdv_Main::Shutdown() {
    if (FDown) return;
    FDown = true;
    Timer1->stop();
    Engine().OnRowsChanged = nullptr;
    FSearch->Shutdown();
    ListView->clear();
}

void TfrmAdv_Main::showEvent(QShowEvent* event) {
    lang::TranslateForm(*this);
    Engine().SearchRound(0, false);
    Refresh();
    QDialog::showEvent(event);
    // Unowned as designed, but placed over the main window that opens it.
    if (Over) {
        QRect over = Over->frameGeometry();
        QPoint at = over.center() - QPoint(frameGeometry().width(), frameGeometry().height()) / 2;
        if (QScreen* s = Over->screen()) {
            QRect avail = s->availableGeometry();
            at.setX(std::clamp(at.x(), avail.left(),
                               std::max(avail.left(), avail.right() - frameGeometry().width())));
            at.setY(std::clamp(at.y(), avail.top(),
                               std::max(avail.top(), avail.bottom() - frameGeometry().height())));
        }
        move(at);
    }
}

void TfrmAdv_Main::btnFindClick() {
    platform::SetBusyCursor(true);
    Engine().Find();
    platform::SetBusyCursor(false);
}

void TfrmAdv_Main::spbExportClick() {
    TDeviceSearch::TResult r;
    bool chosen = Engine().Ok(r);
    szIP = r.szIP;
    nPort = r.nPort;
    nTYpe = r.nTYpe;
    nDevType = chosen ? Engine().Row(static_cast<size_t>(Engine().Selected())).DevType : -1;
    if (chosen)
        accept();
    else
        reject();
}

void TfrmAdv_Main::done(int result) {
    // Closing only hides while isClose is false: rows and rounds go on.
    QDialog::done(result);
    if (isClose) Shutdown();
}

void TfrmAdv_Main::closeEvent(QCloseEvent* event) {
    if (isClose) Shutdown();
    QDialog::closeEvent(event);
}

void TfrmAdv_Main::RefreshSoon() {
    // A large site changes the rows hundreds of times a second, a row at a time; the list is
    // rebuilt once for all of them when the window's thread is free again, not once for each.
    if (FRefreshPending) return;
    FRefreshPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FRefreshPending = false;
            Refresh();
        },
        Qt::QueuedConnection);
}

void TfrmAdv_Main::Refresh() {
    if (FDown) return;
    FRefreshing = true;
    TDeviceSearch& e = Engine();
    // Each column as wide as its widest cell: only cells whose text changed are measured, unless
    // rows went or the font changed, which can make a column narrower.
    QFontMetrics fm(ListView->font());
    bool remeasure =
        ListView->topLevelItemCount() > static_cast<int>(e.Count()) || ListView->font() != FMeasuredFont;
    if (remeasure) {
        FMeasuredFont = ListView->font();
        FWidest.fill(0);
    }
    // Rows are rebuilt in the engine's order; the selection follows the engine, which follows the device.
    while (ListView->topLevelItemCount() > static_cast<int>(e.Count()))
        delete ListView->takeTopLevelItem(ListView->topLevelItemCount() - 1);
    for (size_t i = 0; i < e.Count(); ++i) {
        QTreeWidgetItem* item = ListView->topLevelItem(static_cast<int>(i));
        if (!item) item = new QTreeWidgetItem(ListView);
        item->setData(0, Qt::UserRole,
                      QByteArray::fromStdString(TDeviceSearch::KeyOf(e.Row(i)))); // exact bytes
        for (int c = 0; c < ListView->columnCount(); ++c) {
            QString text =
                QString::fromStdString(EscapeControls(CameraText(TDeviceSearch::Cell(e.Row(i), c))));
            bool changed = item->text(c) != text;
            if (changed) item->setText(c, text);
            if (changed || remeasure) FWidest[c] = std::max(FWidest[c], fm.horizontalAdvance(text));
        }
    }
    int selected = e.Selected();
    ListView->setCurrentItem(selected >= 0 ? ListView->topLevelItem(selected) : nullptr);
    if (selected < 0) ListView->clearSelection();
    FRefreshing = false;
    FitColumns();
    UpdateDeviceCount();
}

void TfrmAdv_Main::FitColumns() {
    // Each column as wide as its widest cell or heading (the designed widths at least); the list,
    // and with it the dialog, as wide as the columns with the vertical bar's room.
    static constexpr int designed[] = {48, 100, 120, 50};
    int pad = 2 * (ListView->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ListView) + 1) + 4;
    int total = 0;
    for (int c = 0; c < ListView->columnCount(); ++c) {
        int width = std::max({designed[c], ListView->header()->sectionSizeHint(c), FWidest[c] + pad});
        total += width;
        ListView->header()->setStretchLastSection(false);
        ListView->setColumnWidth(c, width);
    }
    total = std::max(total, ListView->header()->length());
    // The last column then takes whatever room is left.
    ListView->header()->setStretchLastSection(true);
    int bar = ListView->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ListView);
    ListView->setMinimumWidth(total + bar + 2 * ListView->frameWidth() + 2);
}

bool TfrmAdv_Main::eventFilter(QObject* watched, QEvent* event) {
    // The empty-list panel stands over the list's rows.
    if (watched == ListView->viewport() && event->type() == QEvent::Resize) {
        QRect rows = ListView->viewport()->geometry();
        plInfo->setGeometry(rows.left() + 2, rows.top() + 16, rows.width() - 4,
                            std::max(60, plInfo->heightForWidth(rows.width() - 4)));
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAdv_Main::UpdateDeviceCount() {
    lblDevNum->setText(QString::fromStdString(GetLangStr("IDS_DEVCOUNT")) +
                       QString::number(Engine().Count()));
    plInfo->setVisible(Engine().Count() == 0);
    lblDevNum->setMinimumWidth(0);
    lblDevNum->setMinimumWidth(std::max(130, lblDevNum->sizeHint().width()));
    lang::FitButtons({btnFind, btnOK, btnCancel}, 74, 28);
}
