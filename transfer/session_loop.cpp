#include "transfer/session_loop.h"

#include <algorithm>

namespace morva {

SessionLoop::Id SessionLoop::add(SessionState& state, LinkPort& link, Operator& op) {
  sessions_.push_back(Slot{&state, &link, &op});
  return sessions_.size() - 1;
}

std::optional<TransferStep> SessionLoop::stepToPost(Id id, bool held) {
  Slot& slot = sessions_[id];
  if (!sessionRunning(slot.state->transferStep) || held || slot.posted || slot.waiting)
    return std::nullopt;
  slot.posted = true;
  return slot.state->transferStep;
}

StepResult SessionLoop::deliver(Id id, TransferStep step, bool held) {
  Slot& slot = sessions_[id];
  slot.posted = false;
  if (held) return StepResult::Ignored;
  return run(slot, step);
}

std::size_t SessionLoop::runDue() {
  std::size_t ran = 0;
  for (Slot& slot : sessions_) {
    if (!sessionRunning(slot.state->transferStep) || slot.waiting) continue;
    if (run(slot, slot.state->transferStep) == StepResult::Advanced) ++ran;
  }
  return ran;
}

StepResult SessionLoop::run(Slot& slot, TransferStep step) {
  const StepResult result = performTransferStep(step, *slot.state, *slot.link, *slot.op);
  if (result == StepResult::Waiting) slot.waiting = true;
  return result;
}

SessionLoop::Wait SessionLoop::nextWait(Clock::time_point now) const {
  Wait wait;
  wait.deadline = now + longestWait;
  for (const Slot& slot : sessions_) {
    if (!slot.waiting || slot.link->port == nullptr) continue;
    const WaitHint hint = slot.link->port->waitHint();
    if (hint.waitable >= 0) wait.waitables.push_back(hint.waitable);
    wait.deadline = std::min(wait.deadline, hint.deadline);
  }
  return wait;
}

void SessionLoop::wake(Id id) {
  sessions_[id].waiting = false;
}

void SessionLoop::wakeAll() {
  for (Slot& slot : sessions_) slot.waiting = false;
}

bool SessionLoop::running(Id id) const {
  return sessionRunning(sessions_[id].state->transferStep);
}

bool SessionLoop::anyRunning() const {
  return std::any_of(sessions_.begin(), sessions_.end(),
                     [](const Slot& slot) { return sessionRunning(slot.state->transferStep); });
}

}  // namespace morva
