#include "platform/posix/os_error.h"

#include <cerrno>
#include <cstring>

namespace morva {

namespace {

// What a person can do about the two refusals of a port seen most often.
std::string adviceFor(FailureCause cause) {
  switch (cause) {
    case FailureCause::PermissionDenied:
      return "Serial ports belong to the dialout group: add your user to it (sudo usermod -aG "
             "dialout $USER), then log out and in again (the group is only picked up by a new "
             "login).";
    case FailureCause::Busy:
      return "Another program is using the port; close it and try again.";
    default:
      return {};
  }
}

}  // namespace

OsError errnoError(int number, FailureCause cause) {
  return OsError{number, std::strerror(number), cause, adviceFor(cause)};
}

OsError fileErrnoError(int number, FailureCause cause) {
  return OsError{number, std::strerror(number), cause, {}};
}

FailureCause openFailureCause(int number) {
  switch (number) {
    case EACCES:
    case EPERM:
      return FailureCause::PermissionDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:  // a device node with no hardware behind it
      return FailureCause::NotFound;
    case EBUSY:  // another program holds the port in exclusive mode
      return FailureCause::Busy;
    default:
      return FailureCause::Other;
  }
}

bool meansVanished(int number) {
  return number == EIO || number == ENXIO || number == ENODEV;
}

}  // namespace morva
