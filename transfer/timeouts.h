// The protocol's timing in one place: how long the device is given to answer, and the link's
// own waits around the device search and a session's start.
#pragma once

#include <chrono>

namespace morva {

// What a port measures for every read and write (the device protocol's limits, not the OS's):
// a read or write of n bytes ends after n times `perByte`; a read also ends `interval` after a
// byte when no further byte follows, with whatever count arrived.
struct Timeouts {
  std::chrono::milliseconds perByte{120};
  std::chrono::milliseconds interval{100};
};

inline constexpr Timeouts lineTimeouts{};

// A probe whose read never ends (a port that cannot even start one) is given up after this;
// the port's own time-outs end a silent probe after 6 x 120 ms.
inline constexpr std::chrono::milliseconds probeDeadline{1000};

// How long a port made ready for a transfer may take to fall quiet before the WakeUp.
inline constexpr std::chrono::milliseconds quietLimit{2000};

}  // namespace morva
