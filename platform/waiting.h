// The blocking wait of a program that drives sessions from a loop of its own (morva-cli): one
// sleep on every port the sessions wait on. Each OS folder implements it.
#pragma once

#include "transfer/session_loop.h"

namespace morva {

// Sleeps until one of the waitables has news, the deadline comes, or a signal (Ctrl-C) cuts the
// sleep short. POSIX: descriptors readable; Windows: event handles signalled.
void waitForNews(const SessionLoop::Wait& wait);

}  // namespace morva
