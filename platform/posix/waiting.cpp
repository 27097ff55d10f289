#include "platform/waiting.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace morva {

void waitForNews(const SessionLoop::Wait& wait) {
  std::vector<pollfd> descriptors;
  for (const std::intptr_t waitable : wait.waitables)
    descriptors.push_back(pollfd{static_cast<int>(waitable), POLLIN, 0});
  const auto left = std::max(wait.deadline - Clock::now(), Clock::duration::zero());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  const timespec timeout{static_cast<time_t>(seconds.count()),
                         static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
  // A hang-up wakes it too, whatever was asked; a signal ends it with EINTR, which is the point.
  (void)ppoll(descriptors.data(), descriptors.size(), &timeout, nullptr);
}

}  // namespace morva
