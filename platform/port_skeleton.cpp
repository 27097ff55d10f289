#include "platform/port_skeleton.h"

#include <algorithm>
#include <utility>

namespace morva {

PollResult PortSkeleton::poll() {
  PollResult result;
  if (auto refused = timing_.takeRefusal()) {
    result = PollResult::failed(std::move(*refused));
  } else if (!isOpen()) {
    result = PollResult::failed(refusals_.notOpen);
  } else if (!timing_.outstanding()) {
    result = PollResult::failed(refusals_.nothingOutstanding);
  } else {
    result = pollOutstanding();
  }
  if (!result.isPending()) timing_.finish();
  if (result.isFailed()) lastError_ = result.error;
  return result;
}

WaitHint PortSkeleton::waitHint() const {
  if (timing_.refusedStart()) return WaitHint{-1, now()};
  if (!isOpen() || !timing_.outstanding()) return WaitHint{};
  return outstandingHint();
}

void PortSkeleton::waitForProgress(Clock::time_point until) {
  // Nothing to wait for: a refused start, too, leaves nothing outstanding.
  if (!isOpen() || !timing_.outstanding()) return;
  const Clock::time_point limit = std::min(until, waitHint().deadline);
  if (limit > now()) waitOutstanding(limit);
}

bool PortSkeleton::beginOperation(PortTiming::Kind kind, std::size_t size) {
  if (!isOpen()) return refuseStart(refusals_.notOpen);
  if (timing_.outstanding()) abandonOutstanding();
  if (timing_.begin(kind, size, refusals_.busy)) return true;
  return fail(refusals_.busy);
}

bool PortSkeleton::fail(OsError error) {
  lastError_ = std::move(error);
  return false;
}

bool PortSkeleton::refuseStart(OsError error) {
  timing_.refuse(error);
  return fail(std::move(error));
}

}  // namespace morva
