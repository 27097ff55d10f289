#include "sim/memory_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace morva::sim {
namespace {

std::runtime_error failure(const std::string& what, int number) {
  return std::runtime_error(what + ": " + std::strerror(number));
}

// The file the path leads to, so that a save replaces it and not the link to it.
std::string followLinks(const std::string& path) {
  std::error_code error;
  const auto resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved.string();
}

}  // namespace

MemoryFile::MemoryFile(const std::string& path) : given_(path), path_(followLinks(path)) {
  // A save puts a new file beside the memory and renames it over: try that now, not at exit.
  const std::string probe = MemoryImage::temporaryFor(path_);
  std::string error;
  const int probed = MemoryImage::createTemporary(probe, error);
  if (probed < 0) throw std::runtime_error(error);
  ::close(probed);
  ::unlink(probe.c_str());
  const std::string lockPath = path_ + ".lock";
  lock_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_ < 0) throw failure("cannot lock " + lockPath, errno);
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    const int number = errno;
    ::close(lock_);
    if (number == EWOULDBLOCK)
      throw std::runtime_error(path_ + " is in use by another simulated Vk350 (" + lockPath + ")");
    throw failure("cannot lock " + lockPath, number);
  }
}

MemoryFile::~MemoryFile() {
  if (lock_ >= 0) ::close(lock_);  // releases the lock
}

bool MemoryFile::loadInto(MemoryImage& image, std::string& error) const {
  std::error_code missing;
  if (std::filesystem::status(path_, missing).type() == std::filesystem::file_type::not_found)
    return true;
  if (image.load(path_, error)) return true;
  if (given_ != path_) error = given_ + " -> " + error;  // the name the person gave, too
  return false;
}

bool MemoryFile::save(const MemoryImage& image, std::string& error) const {
  return image.save(path_, error);
}

}  // namespace morva::sim
