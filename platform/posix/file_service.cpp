#include "platform/posix/file_service.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/os_error.h"

namespace morva {
namespace {

PathKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::Regular;
  if (S_ISBLK(mode)) return PathKind::BlockDevice;
  if (S_ISDIR(mode)) return PathKind::Directory;
  return PathKind::Other;
}

OsError fileError(int number) {
  return fileErrnoError(number, number == EACCES || number == EPERM ? FailureCause::PermissionDenied
                                : number == ENOENT                  ? FailureCause::NotFound
                                                                    : FailureCause::Other);
}

int openFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read:
      // A pipe would wait here for a writer; a file or a disk never waits, whatever the flag.
      return O_RDONLY | O_NONBLOCK;
    case OpenMode::Update:
      return O_RDWR;
    case OpenMode::CreateNew:
      return O_RDWR | O_CREAT | O_EXCL;  // read too: the session reads it back at its end
    case OpenMode::WriteOnly:
      return O_WRONLY;
    case OpenMode::Append:
      return O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK;  // a pipe in its place never waits
  }
  return O_RDONLY;
}

class PosixOpenFile : public OpenFile {
 public:
  explicit PosixOpenFile(int fd) : fd_(fd) {}
  ~PosixOpenFile() override { close(); }
  PosixOpenFile(const PosixOpenFile&) = delete;
  PosixOpenFile& operator=(const PosixOpenFile&) = delete;

  ReadResult read(std::span<std::uint8_t> into) override {
    ReadResult result;
    while (result.count < into.size()) {
      const ssize_t n = ::read(fd_, into.data() + result.count, into.size() - result.count);
      if (n > 0) {
        result.count += static_cast<std::size_t>(n);
      } else if (n == 0) {
        result.endOfFile = true;
        break;
      } else if (errno != EINTR) {
        result.error = !fail(errno);
        break;
      }
    }
    return result;
  }

  bool write(std::span<const std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EINTR) {
        return fail(errno);
      } else if (n == 0) {
        return fail(EIO);
      }
    }
    return true;
  }

  bool seek(std::uint64_t offset) override {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0) return true;
    return fail(errno);
  }

  std::optional<std::uint64_t> length() override {
    struct stat s {};
    if (::fstat(fd_, &s) != 0) {
      fail(errno);
      return std::nullopt;
    }
    if (S_ISREG(s.st_mode)) return static_cast<std::uint64_t>(s.st_size);
    if (!S_ISBLK(s.st_mode)) return std::nullopt;
    // A block device's capacity is where its end is; the position is put back.
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (at < 0 || end < 0 || ::lseek(fd_, at, SEEK_SET) < 0) {
      fail(errno);
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(end);
  }

  bool truncate(std::uint64_t length) override {
    if (::ftruncate(fd_, static_cast<off_t>(length)) == 0) return true;
    return fail(errno);
  }

  PathKind kind() override {
    struct stat s {};
    if (::fstat(fd_, &s) != 0) {
      fail(errno);
      return PathKind::Other;
    }
    return kindOf(s.st_mode);
  }

  std::optional<FileIdentity> identity() override {
    struct stat s {};
    if (::fstat(fd_, &s) != 0) return std::nullopt;
    return identityOf(s);
  }

  bool isTerminal() override { return ::isatty(fd_) == 1; }

  bool isAt(const std::string& path) override {
    struct stat held {
    }, named{};
    if (::fstat(fd_, &held) != 0 || ::stat(path.c_str(), &named) != 0) return fail(errno);
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
  }

  bool lock(LockKind kind) override {
    const int operation = (kind == LockKind::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    if (::flock(fd_, operation) == 0) return true;
    const int number = errno;
    if (number == EWOULDBLOCK) {
      lastError_ = fileErrnoError(number, FailureCause::Busy);
      lastError_.advice = "Another transfer is using the file; let it end, then try again.";
      return false;
    }
    // A file system without locks (some network ones) has nothing to take.
    if (number == ENOLCK || number == EINVAL || number == EOPNOTSUPP) return true;
    return fail(number);
  }

  void unlock() override { (void)::flock(fd_, LOCK_UN); }

  bool close() override {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);  // releases the lock too
    fd_ = -1;
    return result == 0 || fail(errno);
  }

  const OsError& lastError() const override { return lastError_; }

 private:
  // Records the error; always false.
  bool fail(int number) {
    lastError_ = fileError(number);
    return false;
  }

  int fd_;
  OsError lastError_;
};

}  // namespace

FileIdentity identityOf(const struct stat& status) {
  if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
    return {.device = true, .number = static_cast<std::uint64_t>(status.st_rdev)};
  return {.device = false,
          .volume = static_cast<std::uint64_t>(status.st_dev),
          .number = static_cast<std::uint64_t>(status.st_ino)};
}

PosixFileService::PosixFileService() {
  ::signal(SIGXFSZ, SIG_IGN);
}

PathInfo PosixFileService::inspect(const std::string& path) {
  PathInfo info;
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0) {
    info.error = fileError(errno);
    return info;
  }
  info.kind = kindOf(s.st_mode);
  info.identity = identityOf(s);
  info.writeProtected = (s.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return info;
}

std::unique_ptr<OpenFile> PosixFileService::open(const std::string& path, OpenMode mode,
                                                 OsError& error) {
  const int fd = ::open(path.c_str(), openFlags(mode) | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    const int number = errno;
    error = fileError(number);
    struct stat link {};
    // A creation refused because a link stands there, leading nowhere: say that, not "File
    // exists" of a file nobody can find.
    if (number == EEXIST && mode == OpenMode::CreateNew && ::lstat(path.c_str(), &link) == 0 &&
        S_ISLNK(link.st_mode))
      error.text = "a symbolic link to a file that does not exist";
    return nullptr;
  }
  return std::make_unique<PosixOpenFile>(fd);
}

}  // namespace morva
