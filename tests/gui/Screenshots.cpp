// Takes the pictures of the desktop tool in one language: the main window at start, during and
// after an upgrade, the search dialog empty and with the simulated cameras, the log's menu, the
// question whether to upgrade a camera that is up to date, the log's save dialog, and an upgrade
// from a file with its menu. Popups are taken from the screen, so it runs under an X server.
// Run by scripts/screenshots under Xvfb, against the simulator on loopback.
#include "gui/MainWindow.h"
#include "gui/SearchDialog.h"
#include "gui/GuiPlatform.h"
#include "gui/FormTranslator.h"
#include "lang/Lang.h"
#include "transport/DeviceControlLibrary.h"

#include "SimDemo.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <iostream>

namespace {

int gFailed = 0;

bool Wait(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QTest::qWait(20);
    return done();
}

void Written(bool ok, const QString& path) {
    if (!ok) {
        std::cerr << "screenshots: cannot write " << path.toStdString() << "\n";
        ++gFailed;
        return;
    }
    std::cout << "wrote " << path.toStdString() << "\n";
}

void Save(QWidget* w, const QString& path) {
    QTest::qWait(200);
    Written(w->grab().save(path), path);
}

// What the screen shows in the area of these windows (their frames included).
void SaveScreen(const std::vector<QWidget*>& windows, const QString& path) {
    QTest::qWait(300);
    QRect area;
    for (QWidget* w : windows)
        area = area.united(w->frameGeometry());
    QScreen* screen = QGuiApplication::primaryScreen();
    area = area.intersected(screen->geometry());
    Written(screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(path), path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: gui_screenshots OUT-FOLDER SIM-ROOT LANGUAGE-CODE\n";
        return 2;
    }
    // The search dialog's datagrams stay on this machine, also when run by hand.
    setenv("IPCAM_BROADCAST_ADDR", "127.255.255.255", 0);
    QString out = argv[1];
    std::string root = argv[2];
    std::string code = argv[3];
    CreateZoltSeries();
    platform::StartSockets();
    QApplication app(argc, argv);
    gui::InstallPlatformHooks();
    lang::InstallFontSubstitutions();
    // The cameras start before the window, whose search then finds them all.
    auto sim = std::make_unique<sim::TSimulation>(root, sim::DemoCameras("127.0.0.1", 0), "127.0.0.1", 0,
                                                  true, nullptr, 1 << 20);
    setenv("IPCAM_FIRMWARE_SERVER", sim->Firmware().BaseURL().c_str(), 1);
    {
        TfrmUpgradeSoft window;
        window.show();
        auto* lan = window.findChild<QComboBox*>("cmbLan");
        for (int i = 0; i < lan->count() && CurLang() != code; ++i) {
            lan->setCurrentIndex(i);
            window.cmbLanChange();
        }
        QTest::qWait(300);
        Save(&window, out + "/main-start.png");

        TfrmAdv_Main* dialog = window.SearchDialog();
        dialog->show();
        Wait([&] { return dialog->findChild<QTreeWidget*>("ListView")->topLevelItemCount() >= 5; }, 10000);
        SaveScreen({&window, dialog}, out + "/search-cameras.png");
        dialog->hide();

        sim::TSimCamera* h = sim->Find(sim::TSeries::H);
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
        Save(&window, out + "/main-during.png");
        if (!caught) ++gFailed;
        Wait([&] { return !window.Upgrading(); }, 60000);
        Save(&window, out + "/main-after.png");

        // The camera is up to date now: the question, taken from the screen, then answered No.
        bool asked = false;
        std::function<void()> answer = [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                QTimer::singleShot(100, answer);
                return;
            }
            asked = true;
            SaveScreen({&window, box}, out + "/question.png");
            box->button(QMessageBox::No)->click();
        };
        QTimer::singleShot(100, answer);
        window.btnUpgrdUIByIPClick();
        Wait([&] { return asked && !window.Upgrading(); }, 60000);
        if (!asked) ++gFailed;

        // The log's menu and its save dialog.
        auto* memo = window.findChild<QPlainTextEdit*>("Memo1");
        auto* menu = window.findChild<QMenu*>("PopupMenu1");
        menu->popup(memo->mapToGlobal(QPoint(memo->width() / 3, memo->height() / 3)));
        SaveScreen({&window, menu}, out + "/log-menu.png");
        menu->hide();
        std::unique_ptr<QFileDialog> save = window.MakeSaveDialog();
        save->setOption(QFileDialog::DontUseNativeDialog);
        save->setDirectory(QString::fromStdString(root));
        save->show();
        SaveScreen({save.get()}, out + "/file-dialog.png");
        save->hide();

        // "Upgrade from file...": its menu of the two kinds, then a session with a package file.
        auto* fileButton = window.findChild<QPushButton*>("btnUpgrdFromFile");
        auto* fileMenu = window.findChild<QMenu*>("FileMenu");
        fileMenu->popup(fileButton->mapToGlobal(QPoint(0, fileButton->height())));
        SaveScreen({&window, fileMenu}, out + "/from-file-menu.png");
        fileMenu->hide();
        memo->clear();
        window.AskPackageFile = [&] { return QString::fromStdString(root + "system/H-sys-48.3.1.8.zip"); };
        window.AskDigest = [] { return std::optional<QString>(QString()); };
        window.findChild<QAction*>("FileSys")->trigger();
        Wait([&] { return !window.Upgrading(); }, 60000);
        Save(&window, out + "/from-file.png");

        // No camera answers any more: Find empties the list, which shows its note.
        sim.reset();
        dialog->show();
        dialog->btnFindClick();
        Wait([&] { return dialog->findChild<QTreeWidget*>("ListView")->topLevelItemCount() == 0; }, 5000);
        Save(dialog, out + "/search-empty.png");
        dialog->hide();
    }
    gui::RemovePlatformHooks();
    ReleaseZoltSeries();
    return gFailed ? 1 : 0;
}
