// The main window: the camera's address and account, the system-then-UI upgrade, the operation
// log, the language list, and the search dialog it owns.
#pragma once

#include "FormTranslator.h"
#include "app/Startup.h"
#include "platform/Platform.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class TfrmAdv_Main;

class TfrmUpgradeSoft : public QWidget, public lang::TTranslatable {
    Q_OBJECT

  public:
    explicit TfrmUpgradeSoft(QWidget* parent = nullptr);
    ~TfrmUpgradeSoft() override;

    QString FormName() const override { return "frmUpgradeSoft"; }
    QWidget* FormWidget() override { return this; }

    // False when another instance runs: the window is then never shown.
    bool Created() const { return FCreated; }
    bool Upgrading() const { return FUpgrading || FChainPending; }
    static constexpr int StandardSeries = 5;
    // The sixth series, a standard camera upgraded through ONVIF, is listed only while chosen (a
    // pick in the search dialog sets it).
    void ShowStandardSeries(bool shown);
    TfrmAdv_Main* SearchDialog() const { return FSearchDialog.get(); }

    // The file name the save dialog gives; tests replace it.
    std::function<QString()> AskSaveFileName;
    // "Upgrade from file...": the firmware file (empty cancels) and its MD5 or SHA-256 (empty:
    // no check; nothing cancels); tests replace them.
    std::function<QString()> AskPackageFile;
    std::function<std::optional<QString>()> AskDigest;

    // The designed handlers.
    void btnUpgrdSysByIPClick();
    void btnUpgrdUIByIPClick();
    void btnFindCamClick();
    void cmbLanChange();
    void N1Click();
    void N2Click();
    void AddLog(const std::string& Text);
    // The save dialog of the log: default extension "txt", the designed filter.
    std::unique_ptr<QFileDialog> MakeSaveDialog();
    // Not designed: one session with a firmware file of the operator's (Kind 1 system, 0 UI).
    void UpgradeFromFile(int Kind);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    struct TInput {
        int Series;
        std::string User, Password, IP;
        int Port;
    };
    void FormCreate();
    void FillLanguageList();
    void SetLabelFonts(const std::string& code);
    void UpdateStatusBar();
    void CutAtQQ();
    void PlaceDropCap();
    QSize FitToContent();
    void KeepOnScreen(QSize size);
    void GrowWhileScrolled(int passes);
    TInput ReadInput() const;
    // The checks of one button press; logs the failing one's line.
    bool Check(const TInput& in);
    void StartSession(const TInput& in, int Kind);
    void SessionFinished();
    void ShowSeriesList(bool show);
    void SetBusy(bool busy);
    void ShowProgress(int stage, int64_t done, int64_t total);
    void TranslateFileMenu();

    std::unique_ptr<TStartup> FStartup;
    QObject* FRaiseServer = nullptr;
    bool FCreated = false;
    bool FPlaced = false; // sized and centred at the first show
    std::vector<std::string> FLangFiles;
    bool FUpgrading = false;
    bool FChainPending = false; // the UI session of the system button is still to come
    // A standard camera whose model the firmware list does not name: its firmware from a file.
    bool FAskFileWhenNoList = false;
    std::string FLastKey;
    TInput FChainInput{};
    bool FPackageTransfer = false; // the session is past its firmware list: downloads are the package
    std::unique_ptr<TfrmAdv_Main> FSearchDialog;

    QLabel *lblSoftName, *lblSoftMemo, *lblIPMemo, *lblIPCType, *Label1, *lblIPCIP, *lblIPCPort, *lblIPCUser,
        *lblIPCPwd;
    QLabel *StatusPanel0, *StatusPanel1;
    QStatusBar* StatusBar1;
    QGroupBox* GroupBox3;
    QPlainTextEdit* Memo1;
    QComboBox *cmbMType, *cmbLan;
    QPushButton *btnUpgrdUIByIP, *btnUpgrdSysByIP, *btnFindCam;
    QPushButton* btnUpgrdFromFile; // not designed, with its menu of the two kinds
    QMenu* FileMenu;
    QAction *FileSys, *FileUI;
    std::string FPackage, FPackageMD5, FPackageSHA256; // of the next session started
    QLineEdit *edIP, *edPort, *edAcc, *edpwd;
    QProgressBar* pbProgress; // not designed: the download, upload and reboot of long sessions
    QMenu* PopupMenu1;
    QAction *N1, *N2;
    QObject* SaveDialog1;
};
