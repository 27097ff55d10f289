// OS failures as the rest of the system sees them: the errno value, its text, and what kind of
// trouble it is.
#pragma once

#include "transfer/serial_port.h"

namespace morva {

// The error `number` (an errno value) of a port, with the system's text for it and, for a
// refused or busy port, what a person can do about it.
OsError errnoError(int number, FailureCause cause);

// The same for a file: the advice about ports does not apply to it.
OsError fileErrnoError(int number, FailureCause cause);

// What a failed open(2) of a port means to the person choosing ports.
FailureCause openFailureCause(int number);

// True for the errors a descriptor gives once its device is gone (adapter pulled, pty closed).
bool meansVanished(int number);

}  // namespace morva
