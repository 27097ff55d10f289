// The clock every time-out is measured on: the steady clock, read through a TimeSource so that
// a test can hand a port, the device search or a rig a clock it moves by hand.
#pragma once

#include <chrono>
#include <functional>

namespace morva {

using Clock = std::chrono::steady_clock;

// Where a port, the device search or a test reads the time; Clock::now unless told otherwise.
using TimeSource = std::function<Clock::time_point()>;

}  // namespace morva
