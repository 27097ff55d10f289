#include "frontends/qt/step_driver.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>

namespace morva::qt {

namespace {

const QEvent::Type stepEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class StepEvent : public QEvent {
 public:
  explicit StepEvent(TransferStep step) : QEvent(stepEventType), step(step) {}
  const TransferStep step;
};

bool modalOpen() {
  return QApplication::activeModalWidget() != nullptr;
}

}  // namespace

StepDriver::StepDriver(Program& program, QObject* parent) : QObject(parent), program_(program) {
  deadline_.setSingleShot(true);
  deadline_.setTimerType(Qt::PreciseTimer);
  connect(&deadline_, &QTimer::timeout, this, &StepDriver::portReady);
  // Direct: the signal comes from inside the dispatcher, just before it would sleep.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          &StepDriver::idle, Qt::DirectConnection);
}

StepDriver::~StepDriver() = default;

void StepDriver::interrupt() {
  disarm();
  program_.portReady();
}

void StepDriver::idle() {
  if (const auto step = program_.stepToPost(modalOpen()))
    QCoreApplication::postEvent(this, new StepEvent(*step));
}

bool StepDriver::event(QEvent* event) {
  if (event->type() != stepEventType) return QObject::event(event);
  // A modal window may have opened since the step was posted; it is then dropped here and
  // posted again once the window has closed.
  const StepResult result = program_.runStep(static_cast<StepEvent*>(event)->step, modalOpen());
  if (result == StepResult::Ignored) return true;
  ++stepsRun_;
  if (result == StepResult::Waiting) waitOnPort();
  emit stepped();
  return true;
}

void StepDriver::waitOnPort() {
  const WaitHint hint = program_.portWaitHint();
  if (hint.waitable >= 0) {
    const auto descriptor = static_cast<qintptr>(hint.waitable);
    if (!notifier_ || notifier_->socket() != descriptor) {
      notifier_ = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
      connect(notifier_.get(), &QSocketNotifier::activated, this, &StepDriver::portReady);
    }
    notifier_->setEnabled(true);
  }
  using namespace std::chrono;
  const auto now = Clock::now();
  const auto wait = ceil<milliseconds>(std::max(hint.deadline - now, Clock::duration::zero()));
  deadline_.start(static_cast<int>(wait.count()));
}

void StepDriver::portReady() {
  disarm();
  program_.portReady();
}

void StepDriver::disarm() {
  deadline_.stop();
  // A notifier left on would keep firing while input waits unread.
  if (notifier_) notifier_->setEnabled(false);
}

}  // namespace morva::qt
