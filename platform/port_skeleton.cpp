#include "platform/port_skeleton.h"

#include <utility>

namespace morva {

PollResult PortSkeleton::poll() {
  PollResult result;
  if (startError_) {
    result = PollResult::failed(*std::exchange(startError_, std::nullopt));
  } else if (!isOpen()) {
    result = PollResult::failed(notOpenError());
  } else if (!outstanding()) {
    result = PollResult::failed(nothingOutstandingError());
  } else {
    result = pollOutstanding();
  }
  if (result.isFailed()) lastError_ = result.error;
  return result;
}

bool PortSkeleton::fail(OsError error) {
  lastError_ = std::move(error);
  return false;
}

bool PortSkeleton::refuseStart(OsError error) {
  startError_ = error;
  return fail(std::move(error));
}

}  // namespace morva
