// The data files on POSIX systems: open(2) with the direction's flags, and from then on only the
// descriptor: fstat for the kind and the identity, ftruncate to empty, flock for the lock.
#pragma once

#include "transfer/file_service.h"

struct stat;

namespace morva {

// A device by its number, anything else by its file system and inode.
FileIdentity identityOf(const struct stat& status);

class PosixFileService : public FileService {
 public:
  // A file size limit (RLIMIT_FSIZE) then fails a write with EFBIG, which the session reports,
  // instead of killing the program with SIGXFSZ part-way through a block.
  PosixFileService();
  PathInfo inspect(const std::string& path) override;
  std::unique_ptr<OpenFile> open(const std::string& path, OpenMode mode, OsError& error) override;
};

}  // namespace morva
