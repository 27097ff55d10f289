// What the page's C++ shares with its JavaScript: the browser's clock as the engine's, and
// texts handed across. The JavaScript side lives in the page's host object (morvaHost).
#pragma once

#include <chrono>
#include <string>

#include "transfer/os_error.h"
#include "transfer/serial_port.h"

namespace morva::browser {

// The engine's steady clock runs on performance.now() in the page: both count milliseconds
// from the page's start, so a stamp taken by the browser is a time point of the engine's.
inline Clock::time_point fromMilliseconds(double ms) {
  return Clock::time_point(
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms)));
}
inline double toMilliseconds(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
}

// A text the JavaScript side allocated with malloc: taken over and freed.
std::string adopt(char* text);

// An OS error the JavaScript side described as "NUMBER CAUSE TEXT" (cause: busy, denied,
// missing, gone, other).
OsError errorFrom(const std::string& described);

}  // namespace morva::browser
