#include "frontends/qt/front_end.h"

#include <QApplication>

namespace morva::qt {

FrontEnd::FrontEnd(Dialogs& dialogs, SerialPort& port, PortLister& lister, ProgramOptions options)
    : window_(dialogs), program_(window_, port, lister, std::move(options)), driver_(program_) {
  window_.attach(program_, [this] { driver_.interrupt(); });
}

int FrontEnd::run() {
  // The box shown when no port is listed must not end the program by itself: the status
  // then is ours to give.
  QApplication::setQuitOnLastWindowClosed(false);
  const int started = start();
  if (started != 0) return started;
  QObject::connect(&window_, &MainWindow::closed, qApp, &QCoreApplication::quit);
  const int status = QApplication::exec();
  program_.shutdown();
  return status;
}

}  // namespace morva::qt
