#include "platform/waiting.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace morva {

void waitForNews(const SessionLoop::Wait& wait) {
  std::vector<HANDLE> events;
  for (const std::intptr_t waitable : wait.waitables) {
    if (events.size() == MAXIMUM_WAIT_OBJECTS) break;  // the rest are looked at by the deadline
    events.push_back(reinterpret_cast<HANDLE>(waitable));
  }
  const auto left = std::max(wait.deadline - Clock::now(), Clock::duration::zero());
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  const DWORD timeout = static_cast<DWORD>(std::min<long long>(milliseconds, INFINITE - 1));
  if (events.empty())
    Sleep(timeout);
  else
    (void)WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, timeout);
}

}  // namespace morva
