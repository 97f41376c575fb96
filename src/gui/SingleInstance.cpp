#include "SingleInstance.h"

#include "platform/Platform.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QWidget>

namespace gui {

namespace {
constexpr int kWaitMs = 1000;
constexpr qint64 kMaxCaption = 4096;
} // namespace

std::string RaiseSocketPath() {
    try {
        return platform::PrivateTempDir() + "IP Camera Upgradesoft.sock";
    } catch (const platform::TPlatformError&) {
        return {};
    }
}

TRaiseServer::TRaiseServer(QWidget* window)
    : QObject(window), FWindow(window), FServer(new QLocalServer(this)) {
    QString path = QString::fromStdString(RaiseSocketPath());
    if (path.isEmpty()) return;
    // The instance guard is ours, so a socket left at the path belongs to an instance that died.
    QLocalServer::removeServer(path);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    FServer->listen(path);
    connect(FServer, &QLocalServer::newConnection, this, [this] { Serve(); });
}

bool TRaiseServer::Listening() const {
    return FServer->isListening();
}

void TRaiseServer::Serve() {
    while (QLocalSocket* s = FServer->nextPendingConnection()) {
        QPointer<QLocalSocket> socket(s);
        connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket) return;
            QByteArray caption = socket->read(kMaxCaption + 1);
            if (caption.size() > kMaxCaption || !caption.endsWith('\n')) {
                if (caption.size() > kMaxCaption) socket->abort();
                return;
            }
            caption.chop(1);
            bool mine = QString::fromUtf8(caption) == FWindow->windowTitle();
            if (mine) {
                FWindow->showNormal();
                FWindow->raise();
                FWindow->activateWindow();
            }
            socket->write(mine ? "1\n" : "0\n");
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

bool RaiseRunningInstance(const std::string& Caption) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(RaiseSocketPath()));
    if (!socket.waitForConnected(kWaitMs)) return false;
    socket.write(QByteArray::fromStdString(Caption.substr(0, kMaxCaption)) + '\n');
    socket.waitForBytesWritten(kWaitMs);
    QByteArray answer;
    while (answer.size() < 2 && socket.waitForReadyRead(kWaitMs))
        answer += socket.read(2 - answer.size());
    return answer == "1\n";
}

} // namespace gui
