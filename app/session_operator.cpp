#include "app/session_operator.h"

#include <utility>

namespace morva {

Answer SessionOperator::showMessage(const Message& message) {
  // A box over an open menu would leave the menu holding the keyboard and the pointer.
  if (menuOpen_ && message.buttons == Buttons::Ok) {
    owed_.push_back(message);
    return Answer::Ok;
  }
  return desktop_.showMessage(message);
}

void SessionOperator::sessionEnded(SessionOutcome outcome) {
  // The engine repaints the status line after every step, but the band of the session and
  // block lines only after a block: a session that ends anywhere else (after the quiet wait
  // behind its last block, at a failure, a declined question) would leave them standing.
  desktop_.invalidate(Area::BlockLine, true);
  desktop_.sessionEnded(outcome);
}

void SessionOperator::showOwedBoxes() {
  std::vector<Message> owed = std::exchange(owed_, {});
  for (const Message& message : owed) desktop_.showMessage(message);
}

}  // namespace morva
