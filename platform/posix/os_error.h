// OS failures as the rest of the system sees them: the errno value, its text, and what kind of
// trouble it is.
#pragma once

#include "transfer/serial_port.h"

namespace morva {

// The error `number` (an errno value) with the system's text for it.
OsError errnoError(int number, FailureCause cause);

// What a failed open(2) of a port means to the person choosing ports.
FailureCause openFailureCause(int number);

// True for the errors a descriptor gives once its device is gone (adapter pulled, pty closed).
bool meansVanished(int number);

}  // namespace morva
