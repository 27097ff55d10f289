// Drives transfer sessions one non-blocking step at a time, for every front end and for many
// sessions side by side: a session's step is due while it runs, is not held (a box is open over
// it) and does not wait on its port; a step that finds its read or write pending parks the
// session until its port has news or its deadline comes. The front end does the waiting with
// its own means (a message loop, poll(2), the browser's promises) on what nextWait() names.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "transfer/engine.h"
#include "transfer/link_port.h"
#include "transfer/operator.h"
#include "transfer/session_state.h"

namespace morva {

class SessionLoop {
 public:
  using Id = std::size_t;

  // A port whose hint names no deadline is looked at again after this: a driver that never
  // signals cannot stall a session for good, and a loop that waits sees a stop request soon.
  static constexpr std::chrono::milliseconds longestWait{250};

  // A session to drive, lent for the loop's life; its id is its place in the order added.
  Id add(SessionState& state, LinkPort& link, Operator& op);
  std::size_t size() const { return sessions_.size(); }

  // For a front end that posts each step as a message and runs it when it is delivered: the
  // step to post for `id` now, if one is due (it counts as on its way until delivered).
  std::optional<TransferStep> stepToPost(Id id, bool held);
  // The posted step arrives: Ignored when a box opened over the session since it was posted
  // (it is posted again once the box has closed) or when it is no longer the current step.
  StepResult deliver(Id id, TransferStep step, bool held);

  // For a front end that runs steps itself: one step of every session that is due, in the
  // order added. How many advanced (0: every running session waits on its port).
  std::size_t runDue();

  // What to wait on before a step is due again: the waitables of the parked sessions' ports
  // and the earliest of their deadlines, at most longestWait from `now`.
  struct Wait {
    std::vector<std::intptr_t> waitables;
    Clock::time_point deadline = Clock::time_point::max();
  };
  Wait nextWait(Clock::time_point now = Clock::now()) const;
  // The port of `id` may have news: its session is due again.
  void wake(Id id);
  void wakeAll();

  bool running(Id id) const;
  bool anyRunning() const;
  bool waiting(Id id) const { return sessions_[id].waiting; }

 private:
  struct Slot {
    SessionState* state;
    LinkPort* link;
    Operator* op;
    bool posted = false;
    bool waiting = false;
  };
  StepResult run(Slot& slot, TransferStep step);

  std::vector<Slot> sessions_;
};

}  // namespace morva
