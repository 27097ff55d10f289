#include "platform/posix/standard_descriptors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_service.h"

namespace morva {

bool fillClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is taken: this one, as those below it are open by now.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return false;
    if (opened != fd) {
      const bool moved = ::dup2(opened, fd) == fd;
      ::close(opened);
      if (!moved) return false;
    }
  }
  return true;
}

std::vector<FileIdentity> standardOutputIdentities() {
  std::vector<FileIdentity> identities;
  for (int fd : {1, 2}) {
    struct stat status {};
    if (::fstat(fd, &status) == 0) identities.push_back(identityOf(status));
  }
  return identities;
}

}  // namespace morva
