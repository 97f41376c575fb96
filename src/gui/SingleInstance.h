// The second start of the desktop tool raises the first: the running instance listens on a local
// socket in the private folder, the new one sends it the caption it looks for, and the window
// whose caption is exactly that is restored and raised.
#pragma once

#include <QObject>

#include <string>

class QLocalServer;
class QWidget;

namespace gui {

class TRaiseServer : public QObject {
  public:
    explicit TRaiseServer(QWidget* window);
    bool Listening() const;

  private:
    void Serve();
    QWidget* FWindow;
    QLocalServer* FServer;
};

// The socket's path in the private folder.
std::string RaiseSocketPath();
// Asks the running instance to raise its window of this caption; bounded, never hangs. True when
// the running instance answered that it raised a window.
bool RaiseRunningInstance(const std::string& Caption);

} // namespace gui
