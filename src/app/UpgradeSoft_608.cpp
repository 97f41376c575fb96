#include "UpgradeSoft_608.h"

#include "OptionFile.h"
#include "UpgradeInput.h"
#include "UpgradeThread.h"
#include "cli/History.h"
#include "base/Files.h"
#include "discovery/Adv_Main.h"
#include "gui/SingleInstance.h"
#include "lang/Charset.h"
#include "lang/Lang.h"
#include "transport/Tools.h"
#include "upgrade/uIUpgradeOpt.h"
#include "upgrade/uUpgradeFactory.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

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

} // namespace

TfrmUpgradeSoft::TfrmUpgradeSoft(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QString::fromUtf8(" 网络摄像机系统升级软件Ver1.1"));
    setFixedSize(789, 607);
    // The controls in the layout's order, with their designed texts; the language file replaces
    // the texts at start and at each language change.
    auto* Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(0, 0, 789, 104);
    Panel1->setAutoFillBackground(true);
    Panel1->setStyleSheet("#Panel1 { background: white; }");
    auto* Image1 = new QLabel(Panel1); // the top band's picture, hidden as designed
    Image1->setObjectName("Image1");
    Image1->hide();
    lblSoftName = new QLabel(QString::fromUtf8("网络摄像机系统升级软件Ver1.1"), Panel1);
    lblSoftName->setGeometry(24, 10, 740, 22);
    QFont bold = lblSoftName->font();
    bold.setBold(true);
    lblSoftName->setFont(bold);
    Own(lblSoftName, "lblSoftName", lang::TKind::Label);
    lblSoftMemo = new QLabel(Panel1);
    lblSoftMemo->setWordWrap(true);
    lblSoftMemo->setGeometry(36, 34, 720, 64);
    lblSoftMemo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Own(lblSoftMemo, "lblSoftMemo", lang::TKind::Label);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, 607 - 22, 789, 22);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusPanel1);
    Own(StatusBar1, "StatusBar1", lang::TKind::StatusBar);

    GroupBox3 = new QGroupBox(QString::fromUtf8("操作日志"), this);
    GroupBox3->setGeometry(12, 300, 765, 280);
    Own(GroupBox3, "GroupBox3", lang::TKind::GroupBox);
    Memo1 = new QPlainTextEdit(GroupBox3);
    Memo1->setReadOnly(true);
    Memo1->setGeometry(8, 20, 749, 252);
    Memo1->setObjectName("Memo1");
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    Memo1->setMaximumBlockCount(0);

    lblIPMemo = new QLabel(this);
    lblIPMemo->setWordWrap(true);
    lblIPMemo->setGeometry(24, 106, 740, 76);
    lblIPMemo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblIPMemo->setStyleSheet("color: blue;");
    lblIPMemo->setText(QString::fromUtf8(
        "  点击\"查找局域网摄像机\"按钮，选择当前局域网中的在线的摄像机或直接录入网络摄像机的IP地址及端口，"
        "点击相应的“升级系统固件”按钮，即可完成最新固件版本的查找及更新。\r\n"
        "  摄像机默认帐号为admin，密码是530274，如已修改，请于升级前先录入帐号和密码。"));
    Own(lblIPMemo, "lblIPMemo", lang::TKind::Label);
    lblIPCType = new QLabel(QString::fromUtf8("摄像机类别："), this);
    lblIPCType->hide();
    Own(lblIPCType, "lblIPCType", lang::TKind::Label);
    cmbMType = new QComboBox(this);
    for (const char* s : {"E系列", "F系列", "H系列", "T系列", "C系列"})
        cmbMType->addItem(QString::fromUtf8(s));
    cmbMType->hide();
    Own(cmbMType, "cmbMType", lang::TKind::ComboBox);
    Label1 = new QLabel(QString::fromUtf8("语言："), this);
    Label1->setGeometry(560, 262, 80, 24);
    Own(Label1, "Label1", lang::TKind::Label);
    cmbLan = new QComboBox(this);
    cmbLan->setGeometry(640, 262, 137, 24);
    Label1->setBuddy(cmbLan);
    Own(cmbLan, "cmbLan", lang::TKind::ComboBox);
    btnUpgrdUIByIP = new QPushButton(QString::fromUtf8("升级界面固件"), this);
    btnUpgrdUIByIP->hide();
    Own(btnUpgrdUIByIP, "btnUpgrdUIByIP", lang::TKind::Button);
    btnUpgrdSysByIP = new QPushButton(QString::fromUtf8("升级系统固件"), this);
    btnUpgrdSysByIP->setGeometry(560, 222, 217, 30);
    Own(btnUpgrdSysByIP, "btnUpgrdSysByIP", lang::TKind::Button);
    btnFindCam = new QPushButton(QString::fromUtf8("查找局域网摄像机"), this);
    btnFindCam->setGeometry(560, 184, 217, 30);
    Own(btnFindCam, "btnFindCam", lang::TKind::Button);
    auto field = [this](QLabel*& label, QLineEdit*& edit, const char* caption, const char* labelName,
                        const char* editName, const char* text, int x, int y) {
        label = new QLabel(QString::fromUtf8(caption), this);
        label->setGeometry(x, y, 110, 24);
        Own(label, labelName, lang::TKind::Label);
        edit = new QLineEdit(QString::fromUtf8(text), this);
        edit->setGeometry(x + 112, y, 140, 24);
        edit->setObjectName(editName);
        // The edit carries its label's translated text as its accessible name.
        label->setBuddy(edit);
    };
    field(lblIPCIP, edIP, "摄像机IP：", "lblIPCIP", "edIP", "", 24, 184);
    field(lblIPCPort, edPort, "端口：", "lblIPCPort", "edPort", "81", 290, 184);
    field(lblIPCUser, edAcc, "摄像机账号：", "lblIPCUser", "edAcc", "admin", 24, 222);
    field(lblIPCPwd, edpwd, "摄像机密码：", "lblIPCPwd", "edpwd", "530274", 290, 222);
    edpwd->setEchoMode(QLineEdit::Password);

    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName("pbProgress");
    pbProgress->setGeometry(24, 264, 300, 20);
    pbProgress->setTextVisible(true);
    pbProgress->hide();

    btnUpgrdFromFile = new QPushButton(QString::fromUtf8("从文件升级..."), this);
    btnUpgrdFromFile->setGeometry(336, 258, 206, 30);
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
        return QFileDialog::getSaveFileName(this, QString(), QString(),
                                            lang::QtFilter(SaveDialog1->property("filter").toString()));
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
    FStrRes = std::make_unique<TfrmStrRes>();
    TOptionFile options("option.ini");
    SetCurLang(StartLanguage(options));
    ApplyCacheOptions(options);
    SetFirmwareServerOption(options.ReadOption("Global", "FirmwareServer", ""));
    if (!CheckSingleInstance(GetLangText("Form_frmUpgradeSoft", "Caption"))) return;
    FRaiseServer = new gui::TRaiseServer(this);
    SetLabelFonts(CurLang());
    lang::TranslateForm(*this);
    std::string folder = LangFilePath().substr(0, LangFilePath().rfind('/') + 1);
    TStringList files;
    TTools::FindFiles(files, folder, "*.l*", true);
    for (size_t i = files.size(); i-- > 0;) {
        TIniFile ini(files[i]);
        if (!ini.Lookup("Global", "Name_" + CurLang()) ||
            ini.ReadString("Global", "Name_" + CurLang(), "").empty())
            files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
    }
    FLangFiles = files;
    lblSoftMemo->setText(Q(GetLangStr("IDS_SOFTMEMO")));
    cmbMType->setCurrentIndex(2);
    FillLanguageList();
    UpdateStatusBar();
    CutAtQQ();
    FSearchDialog = std::make_unique<TfrmAdv_Main>(nullptr);
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
    StatusPanel0->setFixedWidth(CurLang() == "en" ? 600 : 300);
    StatusPanel1->clear();
    StatusPanel1->setFixedWidth(0);
    TranslateFileMenu();
}

void TfrmUpgradeSoft::CutAtQQ() {
    QString t = lblSoftMemo->text();
    int at = t.indexOf("QQ");
    if (at >= 0) lblSoftMemo->setText(t.left(at));
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
    TOptionFile options("option.ini");
    options.WriteOption("Global", "lan", CurLang());
    UpdateStatusBar();
    CutAtQQ();
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
    return false;
}

void TfrmUpgradeSoft::btnUpgrdSysByIPClick() {
    if (Upgrading()) return;
    // The chain uses the values checked at its start; the inputs stay read-only until it ends.
    FChainInput = ReadInput();
    FChainPending = true;
    SetBusy(true);
    if (Check(FChainInput))
        StartSession(FChainInput, 1);
    else
        SessionFinished();
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

void TfrmUpgradeSoft::StartSession(const TInput& in, int Kind) {
    FUpgrading = true;
    SetBusy(true);
    Memo1->setFocus();
    platform::SetBusyCursor(true);
    std::shared_ptr<TUpgradeObject> u = TUpgradeFactory::CreateUpgrade(in.Series, Kind);
    if (!u) {
        SessionFinished();
        return;
    }
    u->SetUser(in.User);
    u->SetPassword(in.Password);
    u->SetIP(in.IP);
    u->SetPort(in.Port);
    auto thread = TUpgradeThread::Create(u, "", "");
    thread->LocalPackage = std::exchange(FPackage, std::string());
    thread->PackageMD5 = std::exchange(FPackageMD5, std::string());
    thread->PackageSHA256 = std::exchange(FPackageSHA256, std::string());
    thread->OnLog = [this](const std::string& text) { AddLog(text); };
    thread->OnFinished = [this] { SessionFinished(); };
    TCamera camera{in.IP, std::to_string(in.Port), "EFHTC"[in.Series], in.User, "", "", ""};
    thread->OnReport = [camera, Kind](const TSessionReport& r) {
        RecordSession({camera, Kind == 1 ? "system" : "ui", r});
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
    static const char* names[] = {"%p% download", "%p% upload", "%p% records", "reboot"};
    pbProgress->show();
    pbProgress->setFormat(names[stage]);
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

void TfrmUpgradeSoft::N1Click() {
    Memo1->clear();
}

void TfrmUpgradeSoft::N2Click() {
    if (Memo1->document()->isEmpty()) return;
    QString file = AskSaveFileName ? AskSaveFileName() : QString();
    if (file.isEmpty()) return;
    std::string text = Memo1->toPlainText().toStdString(), out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    if (!out.empty()) out += "\r\n";
    if (!WriteFileAtomically(file.toStdString(), out))
        platform::MessageBox("Cannot write file \"" + file.toStdString() + "\".", "", platform::MB_ICONERROR);
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
        cmbMType->setCurrentIndex(FSearchDialog->nTYpe);
    }
    FSearchDialog->hide();
}

bool TfrmUpgradeSoft::eventFilter(QObject* watched, QEvent* event) {
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
