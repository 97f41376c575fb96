#include "Adv_Main.h"

#include "SR.h"
#include "base/Text.h"
#include "lang/Charset.h"
#include "lang/Lang.h"
#include "platform/Platform.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

TfrmAdv_Main::TfrmAdv_Main(QWidget* parent) : QDialog(parent), FSearch(std::make_unique<TLanSearch>()) {
    setWindowTitle(QString::fromUtf8("选择摄像机"));
    setFixedSize(381, 359);
    GroupBox1 = new QGroupBox(QString::fromUtf8("设备列表"), this);
    GroupBox1->setGeometry(4, 4, 373, 310);
    Own(GroupBox1, "GroupBox1", lang::TKind::GroupBox);
    ListView = new QTreeWidget(GroupBox1);
    ListView->setGeometry(8, 20, 357, 282);
    ListView->setColumnCount(4);
    ListView->setHeaderLabels({QString::fromUtf8("类型"), QString::fromUtf8("名称"),
                               QString::fromUtf8("IP地址"), QString::fromUtf8("端口")});
    ListView->setColumnWidth(0, 48);
    ListView->setColumnWidth(1, 100);
    ListView->setColumnWidth(2, 120);
    ListView->setRootIsDecorated(false);
    ListView->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QFont listFont(QString::fromUtf8("宋体"), 12);
    ListView->setFont(listFont);
    ListView->header()->setSectionsClickable(true);
    Own(ListView, "ListView", lang::TKind::ListView);
    plInfo = new QLabel(QString::fromUtf8("没有发现局域网内的网络摄像机"), ListView);
    plInfo->setGeometry(2, 40, 353, 60);
    plInfo->setAlignment(Qt::AlignCenter);
    plInfo->setWordWrap(true);
    plInfo->setStyleSheet("background: white; color: red;");
    Own(plInfo, "plInfo", lang::TKind::Panel);
    auto* Panel1 = new QWidget(this); // the bottom bar
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(0, 316, 381, 43);
    Panel1->lower();
    lblDevNum = new QLabel(QString::fromUtf8("共有设备："), this);
    lblDevNum->setObjectName("lblDevNum"); // the theme's label: its text is set by the count, not translated
    lblDevNum->setGeometry(8, 324, 130, 24);
    btnFind = new QPushButton(QString::fromUtf8("查找(&F)"), this);
    btnFind->setGeometry(140, 322, 74, 28);
    Own(btnFind, "btnFind", lang::TKind::Button);
    btnOK = new QPushButton(QString::fromUtf8("确定(&O)"), this);
    btnOK->setGeometry(220, 322, 74, 28);
    Own(btnOK, "btnOK", lang::TKind::Button);
    btnCancel = new QPushButton(QString::fromUtf8("取消(&C)"), this);
    btnCancel->setGeometry(300, 322, 74, 28);
    Own(btnCancel, "btnCancel", lang::TKind::Button);
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
        QList<QTreeWidgetItem*> chosen = ListView->selectedItems();
        Engine().Select(chosen.isEmpty() ? -1 : ListView->indexOfTopLevelItem(chosen.first()));
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
    Engine().OnRowsChanged = [this] { Refresh(); };

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

void TfrmAdv_Main::Refresh() {
    if (FDown) return;
    FRefreshing = true;
    TDeviceSearch& e = Engine();
    // Rows are rebuilt in the engine's order; the selection follows the engine, which follows the device.
    while (ListView->topLevelItemCount() > static_cast<int>(e.Count()))
        delete ListView->takeTopLevelItem(ListView->topLevelItemCount() - 1);
    for (size_t i = 0; i < e.Count(); ++i) {
        QTreeWidgetItem* item = ListView->topLevelItem(static_cast<int>(i));
        if (!item) item = new QTreeWidgetItem(ListView);
        for (int c = 0; c < 4; ++c)
            item->setText(
                c, QString::fromStdString(EscapeControls(CameraText(TDeviceSearch::Cell(e.Row(i), c)))));
    }
    int selected = e.Selected();
    ListView->setCurrentItem(selected >= 0 ? ListView->topLevelItem(selected) : nullptr);
    if (selected < 0) ListView->clearSelection();
    FRefreshing = false;
    UpdateDeviceCount();
}

void TfrmAdv_Main::UpdateDeviceCount() {
    lblDevNum->setText(QString::fromStdString(GetLangStr("IDS_DEVCOUNT")) +
                       QString::number(Engine().Count()));
    plInfo->setVisible(Engine().Count() == 0);
}
