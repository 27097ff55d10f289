#include "sim/memory_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace morva::sim {
namespace {

// Sets `error` to "WHAT: the OS's reason"; always false.
bool failed(std::string& error, const std::string& what, int number) {
  error = what + ": " + std::strerror(number);
  return false;
}

}  // namespace

MemoryImage::MemoryImage() : bytes_(byteCount, erased) {}

MemoryImage::Block MemoryImage::block(std::uint16_t number) const {
  Block data{};
  std::lock_guard lock(mutex_);
  const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(number * blockSize);
  std::copy(from, from + blockSize, data.begin());
  return data;
}

void MemoryImage::setBlock(std::uint16_t number, const Block& data) {
  std::lock_guard lock(mutex_);
  std::copy(data.begin(), data.end(),
            bytes_.begin() + static_cast<std::ptrdiff_t>(number * blockSize));
}

std::vector<std::uint8_t> MemoryImage::snapshot() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

void MemoryImage::assign(std::span<const std::uint8_t> bytes) {
  const auto used = std::min(bytes.size(), byteCount);
  std::lock_guard lock(mutex_);
  std::copy_n(bytes.begin(), used, bytes_.begin());
  std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(used), bytes_.end(), erased);
}

bool MemoryImage::load(const std::string& path, std::string& error) {
  // Never waits for a pipe's writer: a pipe, a device or a folder is no memory image, and
  // one read past the memory's size tells a file that is too large (or never ends).
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return failed(error, "cannot read " + path, errno);
  std::vector<std::uint8_t> data(byteCount + 1);
  struct stat status {};
  std::size_t got = 0;
  int number = 0;
  if (::fstat(fd, &status) != 0) {
    number = errno;
  } else if (S_ISREG(status.st_mode)) {
    while (got < data.size()) {
      const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n > 0) got += static_cast<std::size_t>(n);
      if (n == 0 || (n < 0 && errno != EINTR)) {
        number = n < 0 ? errno : 0;
        break;
      }
    }
  }
  ::close(fd);
  if (number != 0) return failed(error, "cannot read " + path, number);
  if (!S_ISREG(status.st_mode)) {
    error = path + ": not a file (a folder, a pipe or a device): the memory image must be a file";
    return false;
  }
  if (got > byteCount) {
    error = path + " holds more than the " + std::to_string(byteCount) + " bytes of the device";
    return false;
  }
  data.resize(got);
  assign(data);
  return true;
}

std::string MemoryImage::temporaryFor(const std::string& path) {
  return path + ".tmp";
}

int MemoryImage::createTemporary(const std::string& temporary, std::string& error) {
  // Unlinking a link removes the link, never what it points to; O_EXCL then refuses anything
  // that appeared there since.
  ::unlink(temporary.c_str());
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) failed(error, "cannot save the memory beside it: " + temporary, errno);
  return fd;
}

bool MemoryImage::save(const std::string& path, std::string& error) const {
  const auto data = snapshot();
  const std::string temporary = temporaryFor(path);
  const int fd = createTemporary(temporary, error);
  if (fd < 0) return false;
  std::size_t done = 0;
  int number = 0;
  while (done < data.size() && number == 0) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n == 0 || errno != EINTR)
      number = n == 0 ? EIO : errno;
  }
  // A file system that is full may only say so when the data goes to the disk.
  if (number == 0 && ::fsync(fd) != 0) number = errno;
  if (::close(fd) != 0 && number == 0) number = errno;
  if (number == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) number = errno;
  if (number == 0) return true;
  ::unlink(temporary.c_str());  // the old image stays as it was, with nothing beside it
  return failed(error, "cannot save the memory in " + path, number);
}

}  // namespace morva::sim
