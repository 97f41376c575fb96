#include "MainWindow.h"

#include "QtTranslations.h"
#include "SearchDialog.h"
#include "SingleInstance.h"
#include "app/History.h"
#include "app/OptionFile.h"
#include "app/UpgradeInput.h"
#include "app/UpgradeThread.h"
#include "base/Files.h"
#include "discovery/SearchReplies.h"
#include "lang/Charset.h"
#include "lang/Lang.h"
#include "transport/CameraGet.h"
#include "upgrade/PackageFiles.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <arpa/inet.h>

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A language file's code: the part of its extension after ".l".
std::string CodeOfFile(const std::string& path) {
    size_t dot = path.rfind(".l");
    return dot == std::string::npos ? std::string() : path.substr(dot + 2);
}

// The designed geometry at 96 DPI.
constexpr int kWidth = 789, kHeight = 607, kBandHeight = 104, kMemoWidth = 720, kLogMinHeight = 80;
constexpr int kStatusWidthEn = 600, kStatusWidthOther = 300, kLanguageWidth = 137, kLabelGap = 6;

} // namespace

TfrmUpgradeSoft::TfrmUpgradeSoft(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QString::fromUtf8(" 网络摄像机系统升级软件Ver1.1"));
    // The controls in the layout's order, with their designed texts; the language file replaces
    // the texts at start and at each language change. Layouts place them: at 96 DPI the window
    // opens at the designed 789 x 607 with the designed arrangement, and texts in larger fonts or
    // longer languages grow their controls instead of being cut.
    auto* Content = new QWidget;
    Content->setObjectName("Content");
    // A window taller than the screen scrolls (or is made smaller) instead of losing its bottom.
    // The content goes in while it has no layout yet: the scroll area measures what it is given,
    // and the designed Chinese texts, measured before the language's texts replace them, would
    // load CJK fonts that a window in another language never shows.
    auto* Scroll = new QScrollArea(this);
    Scroll->setObjectName("Scroll");
    Scroll->setFrameShape(QFrame::NoFrame);
    Scroll->setWidgetResizable(true);
    Scroll->setWidget(Content);
    auto* Panel1 = new QWidget(Content);
    Panel1->setObjectName("Panel1");
    Panel1->setMinimumHeight(kBandHeight);
    Panel1->setAutoFillBackground(true);
    Panel1->setStyleSheet("#Panel1 { background: white; }");
    auto* Image1 = new QLabel(Panel1); // the top band's picture, hidden as designed
    Image1->setObjectName("Image1");
    Image1->hide();
    lblSoftMemo = new QLabel(Panel1);
    lblSoftMemo->setWordWrap(true);
    lblSoftMemo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblSoftMemo->setMinimumWidth(kMemoWidth);
    // The drop capital stands on the introduction's first line, in the room its leading blanks
    // leave, so that the two read as one word.
    lblSoftName = new QLabel(QString::fromUtf8("网络摄像机系统升级软件Ver1.1"), lblSoftMemo);
    QFont bold = lblSoftName->font();
    bold.setBold(true);
    lblSoftName->setFont(bold);
    Own(lblSoftName, "lblSoftName", lang::TKind::Label);
    Own(lblSoftMemo, "lblSoftMemo", lang::TKind::Label);
    lblSoftMemo->installEventFilter(this);
    auto* band = new QVBoxLayout(Panel1);
    band->setContentsMargins(36, 10, 33, 6);
    band->addWidget(lblSoftMemo);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusPanel1);
    Own(StatusBar1, "StatusBar1", lang::TKind::StatusBar);

    GroupBox3 = new QGroupBox(QString::fromUtf8("操作日志"), Content);
    Own(GroupBox3, "GroupBox3", lang::TKind::GroupBox);
    Memo1 = new QPlainTextEdit(GroupBox3);
    Memo1->setReadOnly(true);
    Memo1->setObjectName("Memo1");
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    Memo1->setMaximumBlockCount(0);
    Memo1->setMinimumHeight(kLogMinHeight);
    // The log takes the room that is left and asks for none beyond its least height: the scroll
    // area takes the content's preferred height as the least it shows unscrolled, so a log that
    // asked for more would make the window scroll as soon as the progress bar appears.
    Memo1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    pbProgress = new QProgressBar(GroupBox3); // not designed: below the log it follows
    pbProgress->setObjectName("pbProgress");
    pbProgress->setTextVisible(true);
    pbProgress->hide();
    auto* logBox = new QVBoxLayout(GroupBox3);
    logBox->setContentsMargins(8, 4, 8, 8);
    logBox->addWidget(Memo1, 1);
    logBox->addWidget(pbProgress);

    lblIPMemo = new QLabel(Content);
    lblIPMemo->setWordWrap(true);
    lblIPMemo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblIPMemo->setStyleSheet("color: blue;");
    lblIPMemo->setText(QString::fromUtf8(
        "  点击\"查找局域网摄像机\"按钮，选择当前局域网中的在线的摄像机或直接录入网络摄像机的IP地址及端口，"
        "点击相应的“升级系统固件”按钮，即可完成最新固件版本的查找及更新。\r\n"
        "  摄像机默认帐号为admin，密码是530274，如已修改，请于升级前先录入帐号和密码。"));
    Own(lblIPMemo, "lblIPMemo", lang::TKind::Label);
    lblIPCType = new QLabel(QString::fromUtf8("摄像机类别："), Content);
    lblIPCType->hide();
    Own(lblIPCType, "lblIPCType", lang::TKind::Label);
    cmbMType = new QComboBox(Content);
    for (const char* s : {"E系列", "F系列", "H系列", "T系列", "C系列"})
        cmbMType->addItem(QString::fromUtf8(s));
    cmbMType->hide();
    lblIPCType->setBuddy(cmbMType);
    Own(cmbMType, "cmbMType", lang::TKind::ComboBox);
    Label1 = new QLabel(QString::fromUtf8("语言："), Content);
    Own(Label1, "Label1", lang::TKind::Label);
    cmbLan = new QComboBox(Content);
    // As wide as its shown name needs (see UpdateStatusBar), not as its widest item: the other
    // languages' names would load their fonts before the list is ever opened.
    cmbLan->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Label1->setBuddy(cmbLan);
    Own(cmbLan, "cmbLan", lang::TKind::ComboBox);
    btnUpgrdUIByIP = new QPushButton(QString::fromUtf8("升级界面固件"), Content);
    btnUpgrdUIByIP->hide();
    Own(btnUpgrdUIByIP, "btnUpgrdUIByIP", lang::TKind::Button);
    btnUpgrdSysByIP = new QPushButton(QString::fromUtf8("升级系统固件"), Content);
    Own(btnUpgrdSysByIP, "btnUpgrdSysByIP", lang::TKind::Button);
    btnFindCam = new QPushButton(QString::fromUtf8("查找局域网摄像机"), Content);
    Own(btnFindCam, "btnFindCam", lang::TKind::Button);
    auto field = [this, Content](QLabel*& label, QLineEdit*& edit, const char* caption, const char* labelName,
                                 const char* editName, const char* text) {
        label = new QLabel(QString::fromUtf8(caption), Content);
        Own(label, labelName, lang::TKind::Label);
        edit = new QLineEdit(QString::fromUtf8(text), Content);
        edit->setObjectName(editName);
        // The edit carries its label's translated text as its accessible name.
        label->setBuddy(edit);
    };
    field(lblIPCIP, edIP, "摄像机IP：", "lblIPCIP", "edIP", "");
    field(lblIPCPort, edPort, "端口：", "lblIPCPort", "edPort", "81");
    field(lblIPCUser, edAcc, "摄像机账号：", "lblIPCUser", "edAcc", "admin");
    field(lblIPCPwd, edpwd, "摄像机密码：", "lblIPCPwd", "edpwd", "530274");
    edpwd->setEchoMode(QLineEdit::Password);

    btnUpgrdFromFile = new QPushButton(QString::fromUtf8("从文件升级..."), Content);
    Own(btnUpgrdFromFile, "btnUpgrdFromFile", lang::TKind::Button);
    FileMenu = new QMenu(btnUpgrdFromFile);
    FileMenu->setObjectName("FileMenu");
    FileSys = FileMenu->addAction(QString());
    FileSys->setObjectName("FileSys");
    FileUI = FileMenu->addAction(QString());
    FileUI->setObjectName("FileUI");
    btnUpgrdFromFile->setMenu(FileMenu);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    N2 = PopupMenu1->addAction(QString::fromUtf8("保存日志"));
    Own(N2, "N2", lang::TKind::MenuItem);
    N1 = PopupMenu1->addAction(QString::fromUtf8("清空日志"));
    Own(N1, "N1", lang::TKind::MenuItem);
    SaveDialog1 = new QObject(this);
    SaveDialog1->setProperty("filter", "*.txt|*.*");
    Own(SaveDialog1, "SaveDialog1", lang::TKind::SaveDialog);

    // The designed arrangement: the band, the help text, three rows of fields and buttons (the
    // designed columns of 110, 140 and 217 pixels are their least widths), the log, the status bar.
    auto* fields = new QGridLayout;
    fields->setContentsMargins(24, 0, 12, 0);
    fields->setHorizontalSpacing(2);
    fields->setVerticalSpacing(8);
    fields->addWidget(lblIPCIP, 0, 0);
    fields->addWidget(edIP, 0, 1);
    fields->addWidget(lblIPCPort, 0, 3);
    fields->addWidget(edPort, 0, 4);
    fields->addWidget(btnFindCam, 0, 6);
    fields->addWidget(lblIPCUser, 1, 0);
    fields->addWidget(edAcc, 1, 1);
    fields->addWidget(lblIPCPwd, 1, 3);
    fields->addWidget(edpwd, 1, 4);
    fields->addWidget(btnUpgrdSysByIP, 1, 6);
    fields->addWidget(lblIPCType, 2, 0);
    fields->addWidget(cmbMType, 2, 1);
    fields->addWidget(btnUpgrdFromFile, 2, 3, 1, 2);
    auto* language = new QHBoxLayout;
    language->setSpacing(0);
    language->addWidget(Label1);
    language->addWidget(cmbLan, 1);
    fields->addLayout(language, 2, 6);
    fields->addWidget(btnUpgrdUIByIP, 3, 6);
    // A label whose text outgrows its designed column still keeps a gap before its field.
    for (QLabel* label : {lblIPCIP, lblIPCPort, lblIPCUser, lblIPCPwd, lblIPCType, Label1})
        label->setContentsMargins(0, 0, kLabelGap, 0);
    for (auto [column, width] : {std::pair{0, 110}, {1, 140}, {3, 110}, {4, 140}, {6, 217}})
        fields->setColumnMinimumWidth(column, width);
    fields->setColumnMinimumWidth(2, 12);
    fields->setColumnMinimumWidth(5, 16);
    auto* column = new QVBoxLayout(Content);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(2);
    column->addWidget(Panel1);
    auto* help = new QHBoxLayout;
    help->setContentsMargins(24, 0, 25, 0);
    help->addWidget(lblIPMemo);
    column->addLayout(help);
    column->addLayout(fields);
    column->addSpacing(8);
    auto* log = new QHBoxLayout;
    log->setContentsMargins(12, 0, 12, 0);
    log->addWidget(GroupBox3);
    column->addLayout(log, 1);
    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(Scroll, 1);
    window->addWidget(StatusBar1);

    connect(btnUpgrdSysByIP, &QPushButton::clicked, this, [this] { btnUpgrdSysByIPClick(); });
    connect(btnUpgrdUIByIP, &QPushButton::clicked, this, [this] { btnUpgrdUIByIPClick(); });
    connect(btnFindCam, &QPushButton::clicked, this, [this] { btnFindCamClick(); });
    connect(FileSys, &QAction::triggered, this, [this] { UpgradeFromFile(1); });
    connect(FileUI, &QAction::triggered, this, [this] { UpgradeFromFile(0); });
    connect(cmbLan, qOverload<int>(&QComboBox::activated), this, [this](int) { cmbLanChange(); });
    connect(N1, &QAction::triggered, this, [this] { N1Click(); });
    connect(N2, &QAction::triggered, this, [this] { N2Click(); });
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->exec(Memo1->mapToGlobal(at)); });
    AskPackageFile = [this] {
        return QFileDialog::getOpenFileName(this, Q(GetLangStr("IDS_PACKAGEFILE")), QString(),
                                            Q(GetLangStr("IDS_PACKAGEFILTER")));
    };
    AskDigest = [this]() -> std::optional<QString> {
        bool ok = false;
        QString text =
            QInputDialog::getText(this, Q(GetLangStr("IDS_CONFIRM")), Q(GetLangStr("IDS_PACKAGEDIGEST")),
                                  QLineEdit::Normal, QString(), &ok);
        if (!ok) return std::nullopt;
        return text;
    };
    AskSaveFileName = [this] {
        std::unique_ptr<QFileDialog> dialog = MakeSaveDialog();
        return dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()
                   ? dialog->selectedFiles().first()
                   : QString();
    };
    FormCreate();
}

TfrmUpgradeSoft::~TfrmUpgradeSoft() {
    qApp->removeEventFilter(this);
    // The search first: its listeners and library calls end before anything they use goes.
    if (FSearchDialog) {
        FSearchDialog->isClose = true;
        FSearchDialog.reset();
    }
}

void TfrmUpgradeSoft::FormCreate() {
    qApp->installEventFilter(this);
    FStartup = std::make_unique<TStartup>();
    FStartup->LoadDeviceControlLibrary();
    FStartup->OpenLanguageStore();
    FStartup->ChooseStartLanguage();
    FStartup->ApplyCacheLimits();
    if (!CheckSingleInstance(GetLangText("Form_frmUpgradeSoft", "Caption"))) return;
    FRaiseServer = new gui::TRaiseServer(this);
    SetLabelFonts(CurLang());
    lang::TranslateForm(*this);
    FLangFiles = FStartup->LanguageFiles();
    lblSoftMemo->setText(Q(GetLangStr("IDS_SOFTMEMO")));
    cmbMType->setCurrentIndex(2);
    FillLanguageList();
    UpdateStatusBar();
    CutAtQQ();
    FSearchDialog = std::make_unique<TfrmAdv_Main>(nullptr);
    FSearchDialog->Over = this;
    // What the search leaves out is said in the log, once, as the command line says it.
    FSearchDialog->Engine().OnFull = [this] { AddLog(GetLangStr("IDS_SEARCHFULL")); };
    if (FSearchDialog->Search().ExternalUnknown()) AddLog(GetLangStr("IDS_NOEXTERNALPATH"));
    FCreated = true;
    cmbLanChange();
}

void TfrmUpgradeSoft::SetLabelFonts(const std::string& code) {
    bool en = code == "en";
    for (auto [label, enSize, other] :
         {std::tuple{lblSoftName, 10, 11}, {lblSoftMemo, 9, 10}, {lblIPMemo, 10, 11}}) {
        QFont f = label->font();
        f.setPointSize(en ? enSize : other);
        label->setFont(f);
    }
}

void TfrmUpgradeSoft::FillLanguageList() {
    cmbLan->clear();
    std::lock_guard lock(LangIniLock());
    int selected = -1;
    for (size_t i = 0; i < FLangFiles.size(); ++i) {
        std::string code = CodeOfFile(FLangFiles[i]);
        // Without escape decoding: the names as the current language's file writes them.
        std::optional<std::string> name = LangIni().Ini().Lookup("Global", "Name_" + code);
        cmbLan->addItem(Q(name ? ToUtf8(*name, LangIni().CodePage()) : std::string()));
        if (code == CurLang()) selected = static_cast<int>(i);
    }
    cmbLan->setCurrentIndex(selected);
}

void TfrmUpgradeSoft::TranslateFileMenu() {
    // The two kinds under the designed buttons' own texts.
    FileSys->setText(Q(GetLangText("Form_frmUpgradeSoft", "btnUpgrdSysByIP.Caption")));
    FileUI->setText(Q(GetLangText("Form_frmUpgradeSoft", "btnUpgrdUIByIP.Caption")));
}

void TfrmUpgradeSoft::UpdateStatusBar() {
    // The log is read out under its frame's translated caption.
    Memo1->setAccessibleName(GroupBox3->title());
    StatusPanel0->setText(Q(GetLangStr("IDS_NOTE")));
    // The designed width, or the text's when it needs more (the designed 300 was measured for
    // Chinese).
    StatusPanel0->setFixedWidth(
        std::max(CurLang() == "en" ? kStatusWidthEn : kStatusWidthOther, StatusPanel0->sizeHint().width()));
    lang::FitButtons({btnFindCam, btnUpgrdSysByIP, btnUpgrdFromFile, btnUpgrdUIByIP}, 0, 30);
    // The designed 80 pixels of the language label, or what its text needs.
    Label1->setMinimumWidth(0);
    Label1->setMinimumWidth(std::max(80, Label1->sizeHint().width()));
    QStyleOptionComboBox shown;
    shown.initFrom(cmbLan);
    cmbLan->setMinimumWidth(
        std::max(kLanguageWidth,
                 cmbLan->style()
                     ->sizeFromContents(QStyle::CT_ComboBox, &shown,
                                        QSize(cmbLan->fontMetrics().horizontalAdvance(cmbLan->currentText()),
                                              cmbLan->fontMetrics().height()),
                                        cmbLan)
                     .width()));
    StatusPanel1->clear();
    StatusPanel1->setFixedWidth(0);
    TranslateFileMenu();
}

void TfrmUpgradeSoft::CutAtQQ() {
    QString t = lblSoftMemo->text();
    int at = t.indexOf("QQ");
    if (at >= 0) lblSoftMemo->setText(t.left(at));
    PlaceDropCap();
}

void TfrmUpgradeSoft::PlaceDropCap() {
    // The capital ends where the introduction's leading blanks end, on the first line's baseline.
    QString memo = lblSoftMemo->text();
    int blanks = 0;
    while (blanks < memo.size() && memo[blanks] == ' ')
        ++blanks;
    QFontMetrics memoFont(lblSoftMemo->font()), capFont(lblSoftName->font());
    lblSoftName->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblSoftName->resize(lblSoftName->sizeHint());
    QRect text = lblSoftMemo->contentsRect();
    int x = text.left() + memoFont.horizontalAdvance(memo.left(blanks)) -
            capFont.horizontalAdvance(lblSoftName->text());
    lblSoftName->move(std::max(0, x), text.top() + memoFont.ascent() - capFont.ascent());
}

void TfrmUpgradeSoft::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (FPlaced) return;
    FPlaced = true;
    // Centred on the screen as designed.
    QSize size = FitToContent();
    if (QScreen* s = screen()) {
        QSize frame = frameGeometry().size() - geometry().size();
        move(s->availableGeometry().center() -
             QPoint(size.width() + frame.width(), size.height() + frame.height()) / 2);
    }
}

QSize TfrmUpgradeSoft::FitToContent() {
    // The designed size, larger where the texts need it (a larger font, a longer language), never
    // larger than the screen: the content scrolls then, and the window can be made smaller.
    auto* content = findChild<QWidget*>("Content");
    content->layout()->activate();
    int w = std::max(
        {kWidth, width(), content->minimumSizeHint().width(), StatusBar1->minimumSizeHint().width()});
    QLayout* l = content->layout();
    // The log asks for no more than its least height; it gets eight more lines where the screen
    // has room (at the designed 96 DPI the designed height gives it more).
    int h = (l->hasHeightForWidth() ? l->totalHeightForWidth(w) : content->sizeHint().height()) +
            StatusBar1->sizeHint().height() + 8 * Memo1->fontMetrics().lineSpacing();
    QSize want(w, std::max({kHeight, height(), h}));
    if (QScreen* s = screen()) {
        QSize frame = frameGeometry().size() - geometry().size();
        QSize room = s->availableGeometry().size() - frame;
        // Taller than the screen: the content scrolls, and the vertical bar takes its room beside it.
        if (want.height() > room.height()) want.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        want = want.boundedTo(room).expandedTo(minimumSize());
    }
    if (want != size()) {
        resize(want);
        if (FPlaced) KeepOnScreen(want);
    }
    // Word-wrapped texts settle their heights only once laid out at the new width: whatever the
    // scroll area still has to scroll is added while the screen has room.
    QTimer::singleShot(0, this, [this] { GrowWhileScrolled(3); });
    return want;
}

void TfrmUpgradeSoft::KeepOnScreen(QSize size) {
    // Grown down or to the right (a longer language, more lines), the window stays on the screen.
    QScreen* s = screen();
    if (!s) return;
    QRect area = s->availableGeometry();
    QSize frame = frameGeometry().size() - geometry().size();
    QPoint at = frameGeometry().topLeft();
    at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - size.width() - frame.width())));
    at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - size.height() - frame.height())));
    if (at != frameGeometry().topLeft()) move(at);
}

void TfrmUpgradeSoft::GrowWhileScrolled(int passes) {
    auto* scroll = findChild<QScrollArea*>("Scroll");
    QScreen* s = screen();
    if (!scroll || !s || passes <= 0) return;
    QSize room = s->availableGeometry().size() - (frameGeometry().size() - geometry().size());
    QSize want =
        size() + QSize(scroll->horizontalScrollBar()->maximum(), scroll->verticalScrollBar()->maximum());
    want = want.boundedTo(room).expandedTo(size());
    if (want == size()) return;
    resize(want);
    KeepOnScreen(want);
    QTimer::singleShot(0, this, [this, passes] { GrowWhileScrolled(passes - 1); });
}

void TfrmUpgradeSoft::cmbLanChange() {
    int i = cmbLan->currentIndex();
    if (i >= 0 && static_cast<size_t>(i) < FLangFiles.size()) {
        std::string code = CodeOfFile(FLangFiles[static_cast<size_t>(i)]);
        SetLabelFonts(code);
        // The series the operator picked stays (the designed reset to H would lose it).
        int series = cmbMType->currentIndex();
        SetLanguage(code);
        lang::TranslateForm(*this);
        FillLanguageList();
        cmbMType->setCurrentIndex(series);
    }
    gui::LoadQtTranslations(CurLang());
    FStartup->Options().WriteOption("Global", "lan", CurLang());
    UpdateStatusBar();
    CutAtQQ();
    if (FPlaced) FitToContent();
}

TfrmUpgradeSoft::TInput TfrmUpgradeSoft::ReadInput() const {
    return {cmbMType->currentIndex(), TrimText(edAcc->text().toStdString()),
            TrimText(edpwd->text().toStdString()), TrimText(edIP->text().toStdString()),
            PortNumber(edPort->text().toStdString())};
}

bool TfrmUpgradeSoft::Check(const TInput& in) {
    const char* key = FailedInputCheck(in.Series, in.User, in.IP, in.Port);
    if (!key) return true;
    AddLog(GetLangStr(key));
    QLineEdit* focus = std::string(key) == "IDS_NOLOGINUSER" ? edAcc
                       : std::string(key) == "IDS_NOIPADDR"  ? edIP
                       : std::string(key) == "IDS_NOPORT"    ? edPort
                                                             : nullptr;
    if (focus) focus->setFocus();
    if (!focus) ShowSeriesList(true);
    return false;
}

void TfrmUpgradeSoft::btnUpgrdSysByIPClick() {
    if (Upgrading()) return;
    // The chain uses the values checked at its start; the inputs stay read-only until it ends.
    FChainInput = ReadInput();
    if (!Check(FChainInput)) {
        // The UI firmware's check still follows a second later and logs its line again, but
        // nothing is busy meanwhile: no session runs.
        QTimer::singleShot(static_cast<int>(platform::Scaled(1000)), this, [this, failed = FChainInput] {
            if (!Upgrading() && failed.Series != StandardSeries) Check(failed);
        });
        return;
    }
    // A standard camera has one firmware: no UI session follows.
    FChainPending = FChainInput.Series != StandardSeries;
    FAskFileWhenNoList = !FChainPending;
    StartSession(FChainInput, 1);
}

void TfrmUpgradeSoft::btnUpgrdUIByIPClick() {
    if (Upgrading()) return;
    TInput in = ReadInput();
    if (Check(in)) StartSession(in, 0);
}

void TfrmUpgradeSoft::UpgradeFromFile(int Kind) {
    if (Upgrading()) return;
    TInput in = ReadInput();
    if (!Check(in)) return;
    QString file = AskPackageFile ? AskPackageFile() : QString();
    if (file.isEmpty()) return;
    std::optional<QString> digest = AskDigest ? AskDigest() : std::optional<QString>(QString());
    if (!digest) return;
    std::string d = TrimText(digest->toStdString());
    if (!d.empty() && !TUpgradeOpt::IsHexDigest(d, 32) && !TUpgradeOpt::IsHexDigest(d, 64)) {
        platform::MessageBox(GetLangStr("IDS_DIGESTFORM"), GetLangStr("IDS_ERROR"), platform::MB_ICONERROR);
        return;
    }
    FPackage = file.toStdString();
    FPackageMD5 = d.size() == 32 ? d : "";
    FPackageSHA256 = d.size() == 64 ? d : "";
    StartSession(in, Kind);
}

void TfrmUpgradeSoft::ShowSeriesList(bool show) {
    lblIPCType->setVisible(show);
    cmbMType->setVisible(show);
}

void TfrmUpgradeSoft::StartSession(const TInput& in, int Kind) {
    FUpgrading = true;
    FPackageTransfer = false;
    SetBusy(true);
    Memo1->setFocus();
    platform::SetBusyCursor(true);
    TSessionRequest request;
    request.Series = in.Series;
    request.Kind = Kind;
    request.User = in.User;
    request.Password = in.Password;
    request.IP = in.IP;
    request.Port = in.Port;
    request.FirmwareServer = FStartup->FirmwareServer();
    request.Package = std::exchange(FPackage, std::string());
    request.PackageMD5 = std::exchange(FPackageMD5, std::string());
    request.PackageSHA256 = std::exchange(FPackageSHA256, std::string());
    std::unique_ptr<TUpgradeThread> thread = TUpgradeThread::Create(request);
    if (!thread) {
        SessionFinished();
        return;
    }
    thread->OnLog = [this](const std::string& text) {
        // The bar follows the package only: the firmware list before it is no download to watch.
        if (text == GetLangStr("IDS_DOWNLOADING")) FPackageTransfer = true;
        AddLog(text);
    };
    thread->OnOutcome = [this](const std::string& key) { FLastKey = key; };
    thread->OnFinished = [this] { SessionFinished(); };
    TCamera camera{in.IP, std::to_string(in.Port), "EFHTCO"[in.Series], in.User, "", "", ""};
    thread->OnReport = [camera, Kind](const TSessionReport& r) {
        RecordSession({camera, Kind == 1 ? "system" : "ui", r, "", ""});
    };
    // From the worker: posted on, never waited for, so a transfer is never slowed by the window.
    QPointer<TfrmUpgradeSoft> self(this);
    thread->OnProgress = [self](progress::TStage stage, int64_t done, int64_t total) {
        QMetaObject::invokeMethod(
            qApp,
            [self, stage, done, total] {
                if (self) self->ShowProgress(static_cast<int>(stage), done, total);
            },
            Qt::QueuedConnection);
    };
    TUpgradeThread::Start(std::move(thread));
}

void TfrmUpgradeSoft::ShowProgress(int stage, int64_t done, int64_t total) {
    if (!FUpgrading) return;
    if (stage == static_cast<int>(progress::TStage::Download) && !FPackageTransfer) return;
    static const char* keys[] = {"IDS_PROGDOWNLOAD", "IDS_PROGUPLOAD", "IDS_PROGRECORDS", "IDS_PROGREBOOT"};
    pbProgress->show();
    pbProgress->setFormat(Q(GetLangStr(keys[stage])));
    if (total <= 0) {
        pbProgress->setRange(0, 0); // indeterminate: the reboot wait
        return;
    }
    pbProgress->setRange(0, 1000);
    pbProgress->setValue(static_cast<int>(done * 1000 / total));
}

void TfrmUpgradeSoft::SessionFinished() {
    pbProgress->hide();
    if (FUpgrading) platform::SetBusyCursor(false);
    FUpgrading = false;
    if (std::exchange(FAskFileWhenNoList, false) && FLastKey == "IDS_DOWNFIRMERR") {
        SetBusy(false);
        UpgradeFromFile(1);
        return;
    }
    if (FChainPending) {
        // The UI firmware after a 1 s pause, from the timer: the window stays served meanwhile.
        QTimer::singleShot(static_cast<int>(platform::Scaled(1000)), this, [this] {
            FChainPending = false;
            if (Check(FChainInput))
                StartSession(FChainInput, 0);
            else
                SetBusy(false);
        });
        return;
    }
    SetBusy(false);
}

void TfrmUpgradeSoft::SetBusy(bool busy) {
    btnUpgrdSysByIP->setEnabled(!busy);
    btnUpgrdUIByIP->setEnabled(!busy);
    btnUpgrdFromFile->setEnabled(!busy);
    for (QLineEdit* e : {edIP, edPort, edAcc, edpwd})
        e->setReadOnly(busy);
}

void TfrmUpgradeSoft::AddLog(const std::string& Text) {
    Memo1->appendPlainText(Q(LogTimeStamp() + Text));
}

std::unique_ptr<QFileDialog> TfrmUpgradeSoft::MakeSaveDialog() {
    auto dialog = std::make_unique<QFileDialog>(this);
    dialog->setObjectName("SaveDialog1");
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix("txt");
    dialog->setNameFilters(lang::QtFilter(SaveDialog1->property("filter").toString()).split(";;"));
    // Qt's own dialog keeps its size when fonts are larger, which cuts its columns: it grows with
    // the fonts, within the screen.
    if (logicalDpiY() > 96) {
        QSize want = dialog->sizeHint() * (logicalDpiY() / 96.0);
        if (QScreen* s = screen()) want = want.boundedTo(s->availableGeometry().size());
        dialog->resize(want);
    }
    return dialog;
}

void TfrmUpgradeSoft::N1Click() {
    Memo1->clear();
}

void TfrmUpgradeSoft::N2Click() {
    if (Memo1->document()->isEmpty()) return;
    QString file = AskSaveFileName ? AskSaveFileName() : QString();
    if (file.isEmpty()) return;
    // The designed default extension: a name without one gets ".txt".
    if (!QFileInfo(file).fileName().contains('.')) file += ".txt";
    std::string text = Memo1->toPlainText().toStdString(), out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    if (!out.empty()) out += "\r\n";
    if (!WriteFileAtomically(file.toStdString(), out))
        platform::MessageBox(GetLangStr("IDS_SAVELOGERR") + file.toStdString(), GetLangStr("IDS_ERROR"),
                             platform::MB_ICONERROR);
}

void TfrmUpgradeSoft::btnFindCamClick() {
    FSearchDialog->szIP = edIP->text().toStdString();
    int port = PortNumber(edPort->text().toStdString());
    FSearchDialog->nPort = port ? port : 81;
    FSearchDialog->nTYpe = cmbMType->currentIndex();
    int result = FSearchDialog->exec();
    // Only a dotted IPv4 address from the network is taken over into the window.
    in_addr dotted{};
    if (result == QDialog::Accepted && inet_pton(AF_INET, FSearchDialog->szIP.c_str(), &dotted) == 1) {
        edIP->setText(Q(FSearchDialog->szIP));
        edPort->setText(QString::number(FSearchDialog->nPort));
        ShowStandardSeries(FSearchDialog->nTYpe == StandardSeries);
        cmbMType->setCurrentIndex(FSearchDialog->nTYpe);
        // A type without a series: the operator chooses it in the series list, which shows for that.
        bool unknown = FSearchDialog->nTYpe < 0;
        ShowSeriesList(unknown);
        if (unknown)
            AddLog(GetLangStr("IDS_NOSERIESTYPE") + TypeLetter(FSearchDialog->nDevType) + " (" +
                   std::to_string(FSearchDialog->nDevType) + ")");
    }
    FSearchDialog->hide();
}

void TfrmUpgradeSoft::ShowStandardSeries(bool shown) {
    if (shown && cmbMType->count() == StandardSeries) cmbMType->addItem("ONVIF");
    if (!shown && cmbMType->count() > StandardSeries) cmbMType->removeItem(StandardSeries);
}

bool TfrmUpgradeSoft::eventFilter(QObject* watched, QEvent* event) {
    // Only once translated: measuring the designed Chinese capital would load a CJK font that an
    // English window never shows.
    if (watched == lblSoftMemo && FCreated &&
        (event->type() == QEvent::Resize || event->type() == QEvent::FontChange))
        PlaceDropCap();
    // AppMessage: while busy, clicks and key presses over this window only are swallowed with a
    // box; the box itself, another window and everything else pass.
    if (!Upgrading() || !watched->isWidgetType()) return false;
    auto type = event->type();
    bool input = type == QEvent::KeyPress;
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        auto b = static_cast<QMouseEvent*>(event)->button();
        input = b == Qt::LeftButton || b == Qt::RightButton;
    }
    if (!input || static_cast<QWidget*>(watched)->window() != this) return false;
    if (!rect().contains(mapFromGlobal(QCursor::pos())) && type == QEvent::KeyPress) return false;
    LangMessageBox("IDS_UPGRADEINFO", "IDS_INFORMATION", platform::MB_ICONINFORMATION);
    return true;
}

void TfrmUpgradeSoft::closeEvent(QCloseEvent* event) {
    if (Upgrading()) {
        LangMessageBox("IDS_UPGRADEINFO", "IDS_INFORMATION", platform::MB_ICONINFORMATION);
        event->ignore();
        return;
    }
    event->accept();
}
