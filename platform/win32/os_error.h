// Win32 failures as the rest of the system sees them: the GetLastError() value, the system's
// text for it, and what kind of trouble it is.
#pragma once

#include "transfer/serial_port.h"

namespace morva {

// The error `number` (a Win32 error code) with the system's text for it, without the trailing
// line break and full stop the system puts after it.
OsError win32Error(unsigned long number, FailureCause cause);

// What a failed CreateFileA of a port means to the person choosing ports. Windows refuses a
// port that another program holds open with ERROR_ACCESS_DENIED, so that means Busy here.
FailureCause portOpenCause(unsigned long number);

// True for the errors a port handle gives once its device is gone (USB adapter pulled).
bool meansDeviceGone(unsigned long number);

}  // namespace morva
