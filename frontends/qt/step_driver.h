// Drives the transfer from the idle moments of Qt's event loop: when the loop is about to
// sleep and a session runs, one step is posted; while the step's read or write is pending the
// loop sleeps on the port's descriptor and deadline instead of posting again.
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "app/program.h"

class QSocketNotifier;

namespace morva::qt {

class StepDriver : public QObject {
  Q_OBJECT

 public:
  // Needs the application object: it listens to the thread's event dispatcher.
  explicit StepDriver(Program& program, QObject* parent = nullptr);
  ~StepDriver() override;

  // A command or key is about to change the session: stop watching the port (the command may
  // close it), and let the next idle moment look afresh.
  void interrupt();

  // Steps performed so far, dropped ones not counted.
  long stepsRun() const { return stepsRun_; }

 signals:
  // After every step that ran.
  void stepped();

 protected:
  bool event(QEvent* event) override;

 private:
  void idle();
  void waitOnPort();
  void portReady();
  void disarm();

  Program& program_;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer deadline_;
  long stepsRun_ = 0;
};

}  // namespace morva::qt
