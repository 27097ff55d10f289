#include "app/session_operator.h"

namespace morva {

void SessionOperator::sessionEnded(SessionOutcome outcome) {
  // The engine repaints the status line after every step, but the band of the session and
  // block lines only after a block: a session that ends anywhere else (after the quiet wait
  // behind its last block, at a failure, a declined question) would leave them standing.
  desktop_.invalidate(Area::BlockLine, true);
  desktop_.sessionEnded(outcome);
}

}  // namespace morva
