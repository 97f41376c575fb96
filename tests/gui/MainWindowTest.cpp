// The desktop tool's windows, driven through their object names on the offscreen platform:
// the input checks, a whole upgrade from a click against the simulator, the busy state, the
// language switch, the log, and the search dialog with the hand-off.
#include "app/OptionFile.h"
#include "gui/MainWindow.h"
#include "gui/SearchDialog.h"
#include "gui/SingleInstance.h"
#include "lang/Lang.h"
#include "transport/DeviceControlLibrary.h"
#include "transport/CameraGet.h"
#include "upgrade/PackageFiles.h"

#include "GuiSandbox.h"
#include "SimDemo.h"
#include "SimOnvif.h"
#include "support/Sandbox.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <future>

using namespace testsupport;

namespace {

class Gui : public TGuiSandbox {};

bool EndsWith(const QString& line, const std::string& text) {
    return line.endsWith(QString::fromStdString(text));
}

} // namespace

TEST_F(Gui, InputChecksLogTheirLinesAndStartNothing) {
    Open();
    Find<QLineEdit>("edAcc")->setText("  ");
    Find<QLineEdit>("edIP")->setText("127.0.0.1");
    QTest::mouseClick(Find<QPushButton>("btnUpgrdSysByIP"), Qt::LeftButton);
    // The system check, then after 1 s (scaled) the UI check: the same line twice.
    ASSERT_TRUE(Wait([&] { return Log().size() == 2 && !Window->Upgrading(); }));
    for (const QString& line : Log())
        EXPECT_TRUE(EndsWith(line, GetLangStr("IDS_NOLOGINUSER"))) << line.toStdString();
    EXPECT_TRUE(Find<QLineEdit>("edAcc")->hasFocus());
    EXPECT_TRUE(Find<QPushButton>("btnUpgrdSysByIP")->isEnabled());
    Find<QPlainTextEdit>("Memo1")->clear();
    Find<QLineEdit>("edAcc")->setText("admin");
    Find<QLineEdit>("edPort")->setText("8o");
    QTest::mouseClick(Find<QPushButton>("btnUpgrdSysByIP"), Qt::LeftButton);
    ASSERT_TRUE(Wait([&] { return Log().size() == 2 && !Window->Upgrading(); }));
    QString line = Log()[0];
    EXPECT_EQ(line.toStdString(),
              line.left(line.size() - static_cast<int>(GetLangStr("IDS_NOPORT").size())).toStdString() +
                  GetLangStr("IDS_NOPORT"));
    EXPECT_TRUE(line.contains(":Please input a valid port.")) << line.toStdString();
}

TEST_F(Gui, AWholeUpgradeFromAClickWithTheWindowBusyMeanwhile) {
    sim::TSimulation sim(Root + "fm", sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0, true, nullptr, 4096);
    setenv("IPCAM_FIRMWARE_SERVER", sim.Firmware().BaseURL().c_str(), 1);
    Open();
    sim::TSimCamera* h = sim.Find(sim::TSeries::H);
    Find<QLineEdit>("edIP")->setText("127.0.0.1");
    Find<QLineEdit>("edPort")->setText(QString::number(h->Port()));
    QTest::mouseClick(Find<QPushButton>("btnUpgrdSysByIP"), Qt::LeftButton);
    EXPECT_FALSE(Find<QPushButton>("btnUpgrdSysByIP")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("edIP")->isReadOnly());
    // Input over the window while busy: swallowed, with the box; closing is refused.
    QTest::mouseClick(Find<QLineEdit>("edPort"), Qt::LeftButton);
    EXPECT_FALSE(Window->close());
    EXPECT_GE(Boxes->Shown().size(), 2u);
    EXPECT_EQ(Boxes->Shown()[0].Text, GetLangStr("IDS_UPGRADEINFO"));
    bool barShown = false, indeterminate = false;
    ASSERT_TRUE(Wait(
        [&] {
            auto* bar = Find<QProgressBar>("pbProgress");
            barShown = barShown || bar->isVisible();
            indeterminate = indeterminate || (bar->isVisible() && bar->maximum() == 0);
            return !Window->Upgrading();
        },
        60000))
        << Log().join("\n").toStdString();
    EXPECT_TRUE(barShown);
    EXPECT_TRUE(indeterminate) << "the reboot wait";
    EXPECT_FALSE(Find<QProgressBar>("pbProgress")->isVisible());
    QStringList log = Log();
    int working = 0;
    for (const QString& l : log)
        working += EndsWith(l, GetLangStr("IDS_IPCWORKING"));
    EXPECT_EQ(working, 2) << log.join("\n").toStdString();
    EXPECT_EQ(h->Upgrades(), 2);
    EXPECT_TRUE(Find<QPushButton>("btnUpgrdSysByIP")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("edIP")->isReadOnly());
    unsetenv("IPCAM_FIRMWARE_SERVER");
}

TEST_F(Gui, LanguageSwitchTranslatesWritesTheOptionAndKeepsTheSeries) {
    Open();
    auto* lan = Find<QComboBox>("cmbLan");
    ASSERT_EQ(lan->count(), 2);
    EXPECT_EQ(Find<QPushButton>("btnUpgrdSysByIP")->text().toStdString(), "Upgrade Firmware");
    Find<QComboBox>("cmbMType")->setCurrentIndex(0);
    int jp = lan->currentIndex() == 0 ? 1 : 0;
    lan->setCurrentIndex(jp);
    Window->cmbLanChange();
    EXPECT_EQ(CurLang(), "jp");
    EXPECT_EQ(Find<QPushButton>("btnUpgrdSysByIP")->text().toStdString(),
              GetLangText("Form_frmUpgradeSoft", "btnUpgrdSysByIP.Caption"));
    EXPECT_EQ(Find<QLabel>("Label1")->text().toStdString(),
              GetLangText("Form_frmUpgradeSoft", "Label1.Caption"));
    EXPECT_EQ(Find<QComboBox>("cmbMType")->currentIndex(), 0) << "the picked series stays";
    EXPECT_NE(ReadFile(UserOptionDir() + "option.ini").find("lan=jp"), std::string::npos);
    lan->setCurrentIndex(jp == 0 ? 1 : 0);
    Window->cmbLanChange();
    EXPECT_EQ(CurLang(), "en");
    EXPECT_EQ(Find<QPushButton>("btnUpgrdSysByIP")->text().toStdString(), "Upgrade Firmware");
}

TEST_F(Gui, TheLogIsSavedWithCrLfAndAnEmptyLogOffersNothing) {
    Open();
    int asked = 0;
    std::string file = Root + "log.txt";
    Window->AskSaveFileName = [&] {
        ++asked;
        return QString::fromStdString(file);
    };
    Window->N2Click();
    EXPECT_EQ(asked, 0);
    Window->AddLog("first");
    Window->AddLog("second");
    Window->N2Click();
    EXPECT_EQ(asked, 1);
    std::string saved = ReadFile(file);
    EXPECT_NE(saved.find("first\r\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.substr(saved.size() - 8), "second\r\n");
    Window->N1Click();
    EXPECT_TRUE(Log().isEmpty());
}

TEST_F(Gui, TheSearchDialogListsTheCamerasAndHandsTheChoiceOver) {
    sim::TSimulation sim(Root + "fm", sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0, true, nullptr, 4096);
    Open();
    TfrmAdv_Main* dialog = Window->SearchDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isVisible()) << "created hidden";
    auto* list = dialog->findChild<QTreeWidget*>("ListView");
    ASSERT_TRUE(Wait([&] { return list->topLevelItemCount() == 5; })) << list->topLevelItemCount();
    EXPECT_FALSE(dialog->findChild<QLabel*>("plInfo")->isVisible());
    EXPECT_EQ(dialog->findChild<QLabel*>("lblDevNum")->text().toStdString(),
              GetLangStr("IDS_DEVCOUNT") + "5");
    EXPECT_EQ(list->headerItem()->text(2).toStdString(), "IP address");
    // Pick the F camera with the keyboard's current row and press OK.
    sim::TSimCamera* f = sim.Find(sim::TSeries::F);
    QTimer::singleShot(0, dialog, [&] {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(3).toInt() == f->Port())
                list->setCurrentItem(list->topLevelItem(i));
        QTest::mouseClick(dialog->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    Window->btnFindCamClick();
    EXPECT_EQ(Find<QLineEdit>("edIP")->text().toStdString(), "127.0.0.1");
    EXPECT_EQ(Find<QLineEdit>("edPort")->text().toInt(), f->Port());
    EXPECT_EQ(Find<QComboBox>("cmbMType")->currentIndex(), 1);
    EXPECT_FALSE(dialog->isVisible());
    // A listed address that is no dotted IPv4 address is never taken over.
    TDevInfo odd;
    odd.DevType = 5;
    odd.MAC = "odd";
    odd.IP = "cam.local\r\nX";
    odd.HttpPort = 99;
    dialog->Engine().OnFound(odd);
    QTimer::singleShot(0, dialog, [&] {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(3) == "99") list->setCurrentItem(list->topLevelItem(i));
        QTest::mouseClick(dialog->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    Window->btnFindCamClick();
    EXPECT_EQ(Find<QLineEdit>("edIP")->text().toStdString(), "127.0.0.1");
    // Cancel leaves the fields.
    Find<QLineEdit>("edIP")->setText("10.0.0.1");
    QTimer::singleShot(
        0, dialog, [&] { QTest::mouseClick(dialog->findChild<QPushButton*>("btnCancel"), Qt::LeftButton); });
    Window->btnFindCamClick();
    EXPECT_EQ(Find<QLineEdit>("edIP")->text().toStdString(), "10.0.0.1");
}

TEST_F(Gui, ASecondStartRaisesTheWindowWhoseCaptionItNames) {
    Open();
    Window->showMinimized();
    ASSERT_TRUE(Wait([&] { return Window->isMinimized(); }, 2000));
    // Another caption raises nothing; the window's own caption, exactly, restores it.
    // The asking side runs on a thread of its own, as a second process would, while this one
    // serves the window.
    auto ask = [&](const std::string& caption) {
        auto answer =
            std::async(std::launch::async, [caption] { return gui::RaiseRunningInstance(caption); });
        Wait([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000);
        return answer.get();
    };
    EXPECT_FALSE(ask("Some other program"));
    EXPECT_TRUE(Window->isMinimized());
    EXPECT_TRUE(ask(Window->windowTitle().toStdString()));
    EXPECT_TRUE(Wait([&] { return !Window->isMinimized(); }, 3000));
}

TEST(GuiProcesses, ASecondProcessFindsTheFirstAndRaisesIt) {
    // The first instance is the real program in a process of its own; this test is the second.
    std::string root = Shell("mktemp -d /tmp/ipcam-two-XXXXXX | tr -d '\\n'") + "/";
    std::string env = "LC_ALL=C TMPDIR=" + root + " XDG_CONFIG_HOME=" + root + " QT_QPA_PLATFORM=offscreen ";
    std::string exe = platform::ExeDir() + "ipcam-upgrade";
    ASSERT_EQ(system((env + exe + " >/dev/null 2>&1 & echo $! > " + root + "pid").c_str()), 0);
    setenv("TMPDIR", root.c_str(), 1);
    std::string socket = platform::PrivateTempDir() + "IP Camera Upgradesoft.sock";
    QElapsedTimer t;
    t.start();
    while (!Exists(socket) && t.elapsed() < 20000)
        QTest::qWait(20);
    platform::TInstanceGuard guard;
    EXPECT_FALSE(guard.TryAcquire(SingleInstanceName)) << "the first instance holds the guard";
    EXPECT_FALSE(gui::RaiseRunningInstance("Not its caption"));
    EXPECT_TRUE(gui::RaiseRunningInstance("The upgrade software for IP Cam, Version1.1"));
    (void)!system(("kill $(cat " + root + "pid)").c_str());
    unsetenv("TMPDIR");
    TTools::DeleteDir(root, true);
}

TEST_F(Gui, WhatAScreenReaderIsGiven) {
    sim::TSimulation sim(Root + "fm", sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0, true, nullptr, 4096);
    Open();
    auto name = [](QObject* o) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(o);
        return a ? a->text(QAccessible::Name).toStdString() : std::string("<none>");
    };
    // Each edit carries its label's translated text; the password edit says what it is.
    EXPECT_EQ(name(Find<QLineEdit>("edIP")), "IP address:");
    EXPECT_EQ(name(Find<QLineEdit>("edAcc")), "Account:");
    QAccessibleInterface* pwd = QAccessible::queryAccessibleInterface(Find<QLineEdit>("edpwd"));
    ASSERT_NE(pwd, nullptr);
    EXPECT_EQ(pwd->text(QAccessible::Name).toStdString(), "Password:");
    EXPECT_TRUE(pwd->state().passwordEdit);
    EXPECT_EQ(name(Find<QPushButton>("btnUpgrdSysByIP")), "Upgrade Firmware");
    // The log and the camera list can be read through the interface.
    Window->AddLog("line for the reader");
    QAccessibleInterface* log = QAccessible::queryAccessibleInterface(Find<QPlainTextEdit>("Memo1"));
    ASSERT_NE(log, nullptr);
    ASSERT_NE(log->textInterface(), nullptr);
    EXPECT_EQ(log->text(QAccessible::Name).toStdString(), "Operation Log");
    EXPECT_NE(
        log->textInterface()->text(0, log->textInterface()->characterCount()).indexOf("line for the reader"),
        -1);
    auto* list = Window->SearchDialog()->findChild<QTreeWidget*>("ListView");
    ASSERT_TRUE(Wait([&] { return list->topLevelItemCount() == 5; }));
    Window->SearchDialog()->show();
    QTest::qWait(50);
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(list);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    EXPECT_EQ(table->tableInterface()->rowCount(), 5);
    QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 2);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name).toStdString(), "127.0.0.1");
    Window->SearchDialog()->hide();
}

TEST_F(Gui, UpgradeFromAFileChecksItsDigestBeforeAnyUpload) {
    sim::TSimulation sim(Root + "fm", sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0, true, nullptr, 4096);
    setenv("IPCAM_FIRMWARE_SERVER", "http://firmware-server.invalid/FM/", 1); // never asked
    Open();
    // The window upgrades H cameras unless the search hands over another series.
    sim::TSimCamera* f = sim.Find(sim::TSeries::H);
    Find<QLineEdit>("edIP")->setText("127.0.0.1");
    Find<QLineEdit>("edPort")->setText(QString::number(f->Port()));
    std::string zip = Root + "fm/system/H-sys-48.3.1.8.zip";
    Window->AskPackageFile = [&] { return QString::fromStdString(zip); };
    QString digest;
    Window->AskDigest = [&] { return std::optional<QString>(digest); };
    auto run = [&] {
        Find<QPlainTextEdit>("Memo1")->clear();
        Window->findChild<QAction*>("FileSys")->trigger();
        return Wait([&] { return !Window->Upgrading(); }, 60000);
    };
    // Neither an MD5 nor a SHA-256: refused with a box, nothing starts.
    digest = "12345";
    ASSERT_TRUE(run());
    EXPECT_TRUE(Log().isEmpty());
    ASSERT_FALSE(Boxes->Shown().empty());
    EXPECT_EQ(Boxes->Shown().back().Text, GetLangStr("IDS_DIGESTFORM"));
    digest = QString(32, '0');
    ASSERT_TRUE(run());
    EXPECT_TRUE(EndsWith(Log().back(), GetLangStr("IDS_MD5ERROR"))) << Log().join("\n").toStdString();
    EXPECT_EQ(f->Upgrades(), 0);
    digest = QString::fromStdString(TUpgradeOpt::FileSHA256(zip)).toUpper();
    ASSERT_TRUE(run());
    EXPECT_TRUE(EndsWith(Log()[2], GetLangStr("IDS_LOCALPACKAGE") + "H-sys-48.3.1.8.zip"));
    EXPECT_TRUE(EndsWith(Log().back(), GetLangStr("IDS_IPCWORKING"))) << Log().join("\n").toStdString();
    EXPECT_EQ(f->SysVersion(), "48.3.1.8");
    EXPECT_EQ(f->AppVersion(), "3.1.2.5") << "one session of the kind chosen";
    EXPECT_EQ(Find<QPushButton>("btnUpgrdFromFile")->text(),
              QString::fromStdString(GetLangText("Form_frmUpgradeSoft", "btnUpgrdFromFile.Caption")));
    unsetenv("IPCAM_FIRMWARE_SERVER");
}

TEST_F(Gui, AStandardCameraIsUpgradedOnceAndAFileIsAskedForWhenTheListHasNoModel) {
    sim::TSimulation sim(Root + "fm", {}, "127.0.0.1", 0, true, nullptr, 4096);
    sim::TOnvifConfig c;
    c.Model = "SV-999"; // the list names no such model
    c.RebootMs = 1000;
    c.UploadDelayMs = 0;
    sim::TOnvifCamera camera(c);
    setenv("IPCAM_FIRMWARE_SERVER", sim.Firmware().BaseURL().c_str(), 1);
    Open();
    auto* series = Find<QComboBox>("cmbMType");
    EXPECT_EQ(series->count(), 5);
    Window->ShowStandardSeries(true);
    series->setCurrentIndex(TfrmUpgradeSoft::StandardSeries);
    EXPECT_EQ(series->currentText(), "ONVIF");
    Find<QLineEdit>("edIP")->setText("127.0.0.1");
    Find<QLineEdit>("edPort")->setText(QString::number(camera.Port()));
    Find<QLineEdit>("edAcc")->setText("admin");
    Find<QLineEdit>("edpwd")->setText("Onvif530274");
    std::string image = Root + "own.bin";
    sim::WriteImageFile(image, sim::TKind::System, "3.0.0", 8192);
    int asked = 0;
    Window->AskPackageFile = [&] {
        ++asked;
        return QString::fromStdString(image);
    };
    Window->AskDigest = [&] { return std::optional<QString>(QString()); };
    QTest::mouseClick(Find<QPushButton>("btnUpgrdSysByIP"), Qt::LeftButton);
    QTest::qWait(50);
    ASSERT_TRUE(
        Wait([&] { return !Window->Upgrading() && asked == 1 && camera.Version() == "3.0.0"; }, 60000))
        << Log().join("\n").toStdString();
    ASSERT_TRUE(Wait([&] {
        return !Window->Upgrading() && EndsWith(Log().back(), GetLangStr("IDS_IPCWORKING"));
    })) << Log().join("\n").toStdString();
    QStringList log = Log();
    int connected = 0;
    for (const QString& l : log)
        connected += EndsWith(l, GetLangStr("IDS_IPCCONNECTED"));
    EXPECT_EQ(connected, 2) << "the list session, then the file session; no UI session\n"
                            << log.join("\n").toStdString();
    EXPECT_EQ(camera.Upgrades(), 1);
    Window->ShowStandardSeries(false);
    EXPECT_EQ(series->count(), 5);
    unsetenv("IPCAM_FIRMWARE_SERVER");
}
