// The camera search dialog: the window over the search engine. Created hidden with the main
// window; it searches every second whether shown or not, and closing only hides it until
// isClose is set.
#pragma once

#include "FormTranslator.h"
#include "discovery/LanSearch.h"

#include <QDialog>
#include <QFont>

#include <array>
#include <memory>
#include <string>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

class TfrmAdv_Main : public QDialog, public lang::TTranslatable {
    Q_OBJECT

  public:
    explicit TfrmAdv_Main(QWidget* parent = nullptr);
    ~TfrmAdv_Main() override;

    QString FormName() const override { return "frmAdv_Main"; }
    QWidget* FormWidget() override { return this; }
    TDeviceSearch& Engine() { return FSearch->Engine(); }
    TLanSearch& Search() { return *FSearch; }

    // The published results and the close switch.
    std::string szIP;
    int nPort = 0;
    int nTYpe = -1;
    // Not designed: the device type of the camera chosen, so that a type without a series can be named.
    int nDevType = -1;
    bool isClose = false;
    // Not designed: the window the dialog is placed over when it shows (it stays unowned).
    QWidget* Over = nullptr;

    void btnFindClick();
    void spbExportClick();
    // Stops the timer, the listeners and the library searches and empties the list; again does nothing.
    void Shutdown();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Refresh();
    void RefreshSoon();
    void UpdateDeviceCount();
    void FitColumns();
    static constexpr int kWidth = 381, kHeight = 359; // the designed client area at 96 DPI

    std::unique_ptr<TLanSearch> FSearch;
    QTimer* Timer1;
    QGroupBox* GroupBox1;
    QTreeWidget* ListView;
    QLabel *plInfo, *lblDevNum;
    QPushButton *btnFind, *btnOK, *btnCancel;
    bool FRefreshing = false;
    bool FRefreshPending = false;
    // The widest text of each column so far, in FMeasuredFont.
    std::array<int, 4> FWidest{};
    QFont FMeasuredFont;
    bool FDown = false;
};
