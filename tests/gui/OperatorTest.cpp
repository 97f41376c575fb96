// The windows as an operator meets them: the search dialog hands over exactly the row shown as
// selected, Enter and a double click choose and never search again, a camera without a series
// opens the series list, bad input makes nothing busy, the log gets its default extension and
// the progress bar follows the package only, and an English window loads no CJK font.
#include "gui/MainWindow.h"
#include "gui/SearchDialog.h"
#include "lang/Lang.h"
#include "transport/DeviceControlLibrary.h"

#include "GuiSandbox.h"
#include "SimDemo.h"
#include "support/Sandbox.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>

using namespace testsupport;

namespace {

class Operator : public TGuiSandbox {
  protected:
    void SetUp() override {
        TGuiSandbox::SetUp();
        Open();
        Dialog = Window->SearchDialog();
        List = Dialog->findChild<QTreeWidget*>("ListView");
        // Rows fed here never expire while a test looks at them.
        Dialog->findChild<QTimer*>("Timer1")->stop();
    }
    void Add(const std::string& mac, int type, const std::string& ip, int port,
             const std::string& name = "cam") {
        TDevInfo d;
        d.DevType = type;
        d.MAC = mac;
        d.IP = ip;
        d.HttpPort = port;
        d.DevName = name;
        Dialog->Engine().OnFound(d);
        QCoreApplication::processEvents(); // the list is rebuilt when the window's thread is free
    }
    QTreeWidgetItem* RowOfPort(int port) {
        for (int i = 0; i < List->topLevelItemCount(); ++i)
            if (List->topLevelItem(i)->text(3).toInt() == port) return List->topLevelItem(i);
        return nullptr;
    }
    // Opens the dialog as the search button does and lets act drive it while it runs modally.
    void Pick(const std::function<void()>& act) {
        QTimer::singleShot(0, Dialog, [&] {
            act();
            // Whatever act did not close is cancelled, so that the test never hangs.
            QTimer::singleShot(200, Dialog, [&] {
                if (Dialog->isVisible()) Dialog->reject();
            });
        });
        Window->btnFindCamClick();
    }
    TfrmAdv_Main* Dialog = nullptr;
    QTreeWidget* List = nullptr;
};

} // namespace

TEST_F(Operator, OkHandsOverExactlyTheRowShownAsSelectedAndNothingWhenNone) {
    Add("m1", 5, "10.1.1.1", 81);
    Add("m2", 2, "10.1.1.2", 82);
    Find<QLineEdit>("edIP")->setText("192.168.0.9");
    // A click on a row chooses it; a click on the empty area below the rows clears the highlight,
    // and OK then hands nothing over.
    Pick([&] {
        QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, List->visualItemRect(RowOfPort(82)).center());
        ASSERT_TRUE(RowOfPort(82)->isSelected());
        QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, QPoint(20, List->viewport()->height() - 5));
        EXPECT_TRUE(List->selectedItems().isEmpty());
        QTest::mouseClick(Dialog->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    EXPECT_EQ(Find<QLineEdit>("edIP")->text().toStdString(), "192.168.0.9");
    EXPECT_EQ(Dialog->nTYpe, -1);
    // A refresh of the rows keeps "none"; a click on the other row hands that one over.
    Add("m3", 9, "10.1.1.3", 83);
    EXPECT_TRUE(List->selectedItems().isEmpty());
    Pick([&] {
        QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, List->visualItemRect(RowOfPort(81)).center());
        QTest::mouseClick(Dialog->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    EXPECT_EQ(Find<QLineEdit>("edIP")->text().toStdString(), "10.1.1.1");
    EXPECT_EQ(Find<QLineEdit>("edPort")->text().toStdString(), "81");
    EXPECT_EQ(Find<QComboBox>("cmbMType")->currentIndex(), 0);
}

TEST_F(Operator, EnterAndDoubleClickChooseTheRowAndNoButtonIsTheDefault) {
    Add("m1", 5, "10.1.1.1", 81);
    Add("m2", 8, "10.1.1.2", 82);
    for (const char* b : {"btnFind", "btnOK", "btnCancel"}) {
        EXPECT_FALSE(Dialog->findChild<QPushButton*>(b)->autoDefault()) << b;
        EXPECT_FALSE(Dialog->findChild<QPushButton*>(b)->isDefault()) << b;
    }
    // Enter on the Find button searches nothing again: the rows and the choice stay.
    Pick([&] {
        List->setCurrentItem(RowOfPort(82));
        Dialog->findChild<QPushButton*>("btnFind")->setFocus();
        QTest::keyClick(Dialog->findChild<QPushButton*>("btnFind"), Qt::Key_Return);
        QCoreApplication::processEvents();
        EXPECT_EQ(List->topLevelItemCount(), 2);
        EXPECT_TRUE(RowOfPort(82)->isSelected());
        EXPECT_TRUE(Dialog->isVisible());
        // Enter on the selected row is OK.
        List->setFocus();
        QTest::keyClick(List, Qt::Key_Return);
    });
    EXPECT_EQ(Find<QLineEdit>("edPort")->text().toStdString(), "82");
    EXPECT_EQ(Find<QComboBox>("cmbMType")->currentIndex(), 2);
    // A double click on a row is OK too.
    Pick([&] {
        QPoint at = List->visualItemRect(RowOfPort(81)).center();
        QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(List->viewport(), Qt::LeftButton, {}, at);
    });
    EXPECT_EQ(Find<QLineEdit>("edPort")->text().toStdString(), "81");
    EXPECT_EQ(Find<QComboBox>("cmbMType")->currentIndex(), 0);
    EXPECT_FALSE(Dialog->isVisible());
}

// The list is rebuilt once for many changes of the rows, so for a moment it can show rows in
// their old places: a click still chooses the camera the row showed.
TEST_F(Operator, AListAMomentBehindTheRowsStillHandsOverTheCameraItShowed) {
    Add("m1", 5, "10.1.1.1", 81);
    Add("m2", 2, "10.1.1.2", 82);
    Pick([&] {
        TDevInfo first;
        first.DevType = 5;
        first.MAC = "m0";
        first.IP = "10.1.1.0";
        first.HttpPort = 80;
        Dialog->Engine().OnFound(first); // sorts before both, the list not yet rebuilt
        ASSERT_EQ(List->topLevelItemCount(), 2);
        QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, List->visualItemRect(RowOfPort(82)).center());
        QTest::mouseClick(Dialog->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    EXPECT_EQ(Find<QLineEdit>("edIP")->text().toStdString(), "10.1.1.2");
    EXPECT_EQ(Find<QLineEdit>("edPort")->text().toStdString(), "82");
}

TEST_F(Operator, ALargeSiteIsListedInOneRebuildAndAFullListIsLoggedOnce) {
    auto* log = Find<QPlainTextEdit>("Memo1");
    log->clear();
    for (size_t i = 0; i < TDeviceSearch::MaxRows + 10; ++i) {
        TDevInfo d;
        d.DevType = 5;
        d.MAC = "site" + std::to_string(i);
        d.IP = "10.2." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        d.HttpPort = 80;
        Dialog->Engine().OnFound(d);
    }
    EXPECT_LT(List->topLevelItemCount(), 2) << "no rebuild for each row";
    QCoreApplication::processEvents();
    EXPECT_EQ(List->topLevelItemCount(), static_cast<int>(TDeviceSearch::MaxRows));
    EXPECT_EQ(log->toPlainText().count(QString::fromStdString(GetLangStr("IDS_SEARCHFULL"))), 1);
}

TEST_F(Operator, ACameraWithoutASeriesOpensTheSeriesListAndTheLogNamesItsType) {
    Add("std", 11, "127.0.0.1", 1, "Standard camera");
    EXPECT_FALSE(Find<QComboBox>("cmbMType")->isVisible()) << "hidden as designed";
    Pick([&] {
        List->setCurrentItem(RowOfPort(1));
        QTest::mouseClick(Dialog->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    auto* series = Find<QComboBox>("cmbMType");
    EXPECT_EQ(series->currentIndex(), -1);
    EXPECT_TRUE(series->isVisible());
    EXPECT_TRUE(Find<QLabel>("lblIPCType")->isVisible());
    ASSERT_FALSE(Log().isEmpty());
    EXPECT_TRUE(Log().back().endsWith(QString::fromStdString(GetLangStr("IDS_NOSERIESTYPE") + "F (11)")))
        << Log().back().toStdString();
    // The operator chooses the series; the checks pass and a session starts (port 1 answers
    // nothing, so it ends at once).
    series->setCurrentIndex(1);
    Find<QPlainTextEdit>("Memo1")->clear();
    Window->btnUpgrdUIByIPClick();
    ASSERT_TRUE(Wait([&] { return !Window->Upgrading(); }));
    ASSERT_FALSE(Log().isEmpty());
    EXPECT_TRUE(Log().back().endsWith(QString::fromStdString(GetLangStr("IDS_NOIPCCONNECT"))))
        << Log().join("\n").toStdString();
    // A camera of a known series hides the list again.
    Add("e", 5, "10.1.1.5", 85);
    Pick([&] {
        List->setCurrentItem(RowOfPort(85));
        QTest::mouseClick(Dialog->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    EXPECT_EQ(series->currentIndex(), 0);
    EXPECT_FALSE(series->isVisible());
}

TEST_F(Operator, BadInputMakesNothingBusy) {
    Find<QLineEdit>("edAcc")->setText("");
    Find<QLineEdit>("edIP")->setText("127.0.0.1");
    QTest::mouseClick(Find<QPushButton>("btnUpgrdSysByIP"), Qt::LeftButton);
    // At once, and during the second the repeated check waits: not busy, input and closing pass.
    EXPECT_FALSE(Window->Upgrading());
    EXPECT_TRUE(Find<QPushButton>("btnUpgrdSysByIP")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("edAcc")->isReadOnly());
    QTest::keyClicks(Find<QLineEdit>("edAcc"), "adm");
    EXPECT_EQ(Find<QLineEdit>("edAcc")->text().toStdString(), "adm");
    EXPECT_TRUE(Boxes->Shown().empty()) << Boxes->Shown()[0].Text;
    ASSERT_TRUE(Wait([&] { return Log().size() == 2; }));
    for (const QString& line : Log())
        EXPECT_TRUE(line.endsWith(QString::fromStdString(GetLangStr("IDS_NOLOGINUSER"))))
            << line.toStdString();
    EXPECT_TRUE(Window->close());
}

TEST_F(Operator, TheLogGetsItsDefaultExtensionAndAFailedSaveSaysSo) {
    Window->AddLog("a line");
    QString name;
    Window->AskSaveFileName = [&] { return name; };
    name = QString::fromStdString(Root + "mylog");
    Window->N2Click();
    EXPECT_TRUE(Exists(Root + "mylog.txt"));
    EXPECT_FALSE(Exists(Root + "mylog"));
    name = QString::fromStdString(Root + "my.log");
    Window->N2Click();
    EXPECT_TRUE(Exists(Root + "my.log"));
    EXPECT_TRUE(Boxes->Shown().empty());
    name = QString::fromStdString(Root + "no-such-folder/log.txt");
    Window->N2Click();
    ASSERT_EQ(Boxes->Shown().size(), 1u);
    EXPECT_EQ(Boxes->Shown()[0].Caption, GetLangStr("IDS_ERROR"));
    EXPECT_EQ(Boxes->Shown()[0].Text, GetLangStr("IDS_SAVELOGERR") + name.toStdString());
    // The real dialog appends it as well.
    EXPECT_EQ(Window->MakeSaveDialog()->defaultSuffix().toStdString(), "txt");
}

TEST_F(Operator, TheProgressBarFollowsThePackageNotTheFirmwareList) {
    sim::TSimulation sim(Root + "fm", sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0, true, nullptr, 4096);
    setenv("IPCAM_FIRMWARE_SERVER", sim.Firmware().BaseURL().c_str(), 1);
    sim::TSimCamera* h = sim.Find(sim::TSeries::H);
    Find<QLineEdit>("edIP")->setText("127.0.0.1");
    Find<QLineEdit>("edPort")->setText(QString::number(h->Port()));
    Window->btnUpgrdUIByIPClick();
    ASSERT_TRUE(Wait([&] { return !Window->Upgrading(); }, 60000)) << Log().join("\n").toStdString();
    // The camera now runs the newest UI firmware: the next session asks, after fetching only the
    // firmware list. While the question waits, no bar shows.
    std::atomic<bool> asked{false};
    std::promise<void> looked;
    std::shared_future<void> seen = looked.get_future().share();
    platform::SetMessageBoxHook([&, seen](const std::string& text, const std::string&, int) {
        if (text == GetLangStr("IDS_ISUPDATEFIRM") && !asked.exchange(true)) seen.wait();
        return platform::IDNO;
    });
    Window->btnUpgrdUIByIPClick();
    ASSERT_TRUE(Wait([&] { return asked.load(); }));
    QTest::qWait(50); // every progress report of the list has reached the window
    EXPECT_FALSE(Find<QProgressBar>("pbProgress")->isVisible())
        << Find<QProgressBar>("pbProgress")->format().toStdString();
    looked.set_value();
    ASSERT_TRUE(Wait([&] { return !Window->Upgrading(); }, 60000));
    platform::SetMessageBoxHook(nullptr);
    unsetenv("IPCAM_FIRMWARE_SERVER");
}

TEST_F(Operator, ANameInGbkShowsInTheListAsTheCameraMeantIt) {
    Add("gbk", 5, "10.1.1.7", 87, "\xCD\xF8\xC2\xE7\xC9\xE3\xCF\xF1\xBB\xFA");
    Add("ctl", 5, "10.1.1.8", 88, "a\r\nb");
    ASSERT_NE(RowOfPort(87), nullptr);
    EXPECT_EQ(RowOfPort(87)->text(1).toStdString(), "网络摄像机");
    EXPECT_EQ(RowOfPort(88)->text(1).toStdString(), "a\\r\\nb") << "decoded first, then escaped";
}

TEST_F(Operator, JapaneseShowsTheLogMenuProgressAndQtsOwnTextsInJapanese) {
    auto yes = [] {
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.button(QMessageBox::Yes)->text().toStdString();
    };
    Choose("jp");
    EXPECT_EQ(Find<QAction>("N2")->text().toStdString(), "ログを保存");
    EXPECT_EQ(Find<QAction>("N1")->text().toStdString(), "ログを消去");
    EXPECT_EQ(GetLangStr("IDS_PROGDOWNLOAD"), "ダウンロード %p%");
    EXPECT_NE(yes(), "&Yes");
    EXPECT_NE(yes().find("はい"), std::string::npos) << yes();
    std::unique_ptr<QFileDialog> save = Window->MakeSaveDialog();
    save->setOption(QFileDialog::DontUseNativeDialog);
    auto* cancel = save->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel);
    EXPECT_EQ(cancel->text().toStdString(), "キャンセル");
    Choose("en");
    EXPECT_EQ(Find<QAction>("N2")->text().toStdString(), "Save log");
    EXPECT_EQ(yes(), "&Yes");
}

namespace {

// Whether a CJK font file is mapped into this process.
bool CjkFontMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("CJK") != std::string::npos) return true;
    return false;
}

class Fonts : public TGuiSandbox {};

} // namespace

TEST_F(Fonts, AnEnglishWindowLoadsNoCjkFontUntilATextNeedsOne) {
    if (CjkFontMapped()) GTEST_SKIP() << "an earlier test in this process showed CJK texts";
    Open();
    ASSERT_EQ(CurLang(), "en");
    // Both windows shown and laid out, the dialog with its empty list and its note.
    Window->SearchDialog()->findChild<QTimer*>("Timer1")->stop();
    Window->SearchDialog()->show();
    QTest::qWait(200);
    EXPECT_FALSE(CjkFontMapped()) << "the designed Chinese texts were measured before translation";
    Window->SearchDialog()->hide();
    Choose("jp");
    EXPECT_TRUE(CjkFontMapped()) << "Japanese texts are shown in a CJK font";
}
