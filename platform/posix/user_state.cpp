#include "platform/posix/user_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "platform/posix/os_error.h"

namespace morva {

std::optional<std::filesystem::path> userStateFolder(std::string& why) {
  std::filesystem::path base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    base = std::filesystem::path(home) / ".local" / "state";
  } else {
    why = "neither XDG_STATE_HOME nor HOME names a folder";
    return std::nullopt;
  }
  const std::filesystem::path folder = base / "morva";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    why = folder.string() + ": " + error.message();
    return std::nullopt;
  }
  return folder;
}

std::optional<HeldFile> HeldFile::take(const std::filesystem::path& path, OsError& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = fileErrnoError(errno, FailureCause::Other);
    return std::nullopt;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int number = errno;
    ::close(fd);
    error =
        fileErrnoError(number, number == EWOULDBLOCK ? FailureCause::Busy : FailureCause::Other);
    return std::nullopt;
  }
  return HeldFile(fd);
}

HeldFile::HeldFile(HeldFile&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

HeldFile::~HeldFile() {
  if (fd_ >= 0) ::close(fd_);  // releases the lock
}

}  // namespace morva
