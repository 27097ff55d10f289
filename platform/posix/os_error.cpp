#include "platform/posix/os_error.h"

#include <cerrno>
#include <cstring>

namespace morva {

OsError errnoError(int number, FailureCause cause) {
  return OsError{number, std::strerror(number), cause};
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
