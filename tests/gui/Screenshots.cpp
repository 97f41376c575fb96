// Writes the pictures of the README: the main window in English and in Japanese, the search
// dialog listing the simulated cameras, the log after a whole upgrade with its progress bar, and
// an upgrade from a file of the operator's.
// Run by scripts/screenshots under Xvfb, against the simulator on loopback.
#include "app/UpgradeSoft_608.h"
#include "discovery/Adv_Main.h"
#include "gui/GuiPlatform.h"
#include "lang/FormTranslator.h"
#include "lang/Lang.h"
#include "transport/SR_Zolt.h"

#include "SimDemo.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>

#include <cstdlib>
#include <iostream>

namespace {

bool Wait(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QTest::qWait(20);
    return done();
}

void Save(QWidget* w, const QString& path) {
    QTest::qWait(150);
    if (!w->grab().save(path)) std::cerr << "screenshots: cannot write " << path.toStdString() << "\n";
    std::cout << "wrote " << path.toStdString() << "\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: gui_screenshots OUT-FOLDER SIM-ROOT\n";
        return 2;
    }
    // The search dialog's datagrams stay on this machine, also when run by hand.
    setenv("IPCAM_BROADCAST_ADDR", "127.255.255.255", 0);
    QString out = argv[1];
    std::string root = argv[2];
    CreateZoltSeries();
    platform::StartSockets();
    QApplication app(argc, argv);
    gui::InstallPlatformHooks();
    lang::InstallFontSubstitutions();
    sim::TSimulation sim(root, sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0, true, nullptr, 1 << 20);
    setenv("IPCAM_FIRMWARE_SERVER", sim.Firmware().BaseURL().c_str(), 1);
    int rc = 0;
    {
        TfrmUpgradeSoft window;
        window.show();
        auto* lan = window.findChild<QComboBox*>("cmbLan");
        auto pick = [&](const std::string& code) {
            for (int i = 0; i < lan->count(); ++i) {
                lan->setCurrentIndex(i);
                window.cmbLanChange();
                if (CurLang() == code) return;
            }
        };
        pick("en");
        Save(&window, out + "/main-window-en.png");
        pick("jp");
        Save(&window, out + "/main-window-jp.png");
        pick("en");

        TfrmAdv_Main* dialog = window.SearchDialog();
        dialog->show();
        Wait([&] { return dialog->findChild<QTreeWidget*>("ListView")->topLevelItemCount() >= 5; }, 10000);
        Save(dialog, out + "/search-dialog.png");
        dialog->hide();

        sim::TSimCamera* h = sim.Find(sim::TSeries::H);
        window.findChild<QLineEdit*>("edIP")->setText("127.0.0.1");
        window.findChild<QLineEdit*>("edPort")->setText(QString::number(h->Port()));
        window.findChild<QPushButton*>("btnUpgrdSysByIP")->click();
        // The UI firmware's reboot wait: the indeterminate bar over a log that has run through.
        bool caught = Wait(
            [&] {
                auto* bar = window.findChild<QProgressBar*>("pbProgress");
                return bar->isVisible() && bar->maximum() == 0 &&
                       window.findChild<QPlainTextEdit*>("Memo1")->toPlainText().count('\n') >= 10;
            },
            60000);
        Save(&window, out + "/upgrade-log.png");
        if (!caught) rc = 1;
        Wait([&] { return !window.Upgrading(); }, 60000);
        Save(&window, out + "/upgrade-done.png");

        // "Upgrade from file...": its menu of the two kinds, then a session with a package file.
        auto* fileButton = window.findChild<QPushButton*>("btnUpgrdFromFile");
        auto* menu = window.findChild<QMenu*>("FileMenu");
        menu->popup(fileButton->mapToGlobal(QPoint(0, fileButton->height())));
        QTest::qWait(300);
        QRect area = window.frameGeometry();
        QPixmap shot =
            QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        if (!shot.save(out + "/upgrade-from-file-menu.png")) rc = 1;
        menu->hide();
        window.findChild<QPlainTextEdit*>("Memo1")->clear();
        window.AskPackageFile = [&] { return QString::fromStdString(root + "system/H-sys-48.3.1.8.zip"); };
        window.AskDigest = [] { return std::optional<QString>(QString()); };
        window.findChild<QAction*>("FileSys")->trigger();
        Wait([&] { return !window.Upgrading(); }, 60000);
        Save(&window, out + "/upgrade-from-file.png");
    }
    gui::RemovePlatformHooks();
    ReleaseZoltSeries();
    return rc;
}
