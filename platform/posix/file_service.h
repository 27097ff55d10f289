// The data files on POSIX systems: open(2) with the direction's flags, and from then on only the
// descriptor: fstat for the kind and the identity, ftruncate to empty, flock for the lock.
#pragma once

#include "transfer/file_service.h"

namespace morva {

class PosixFileService : public FileService {
 public:
  PathInfo inspect(const std::string& path) override;
  std::unique_ptr<OpenFile> open(const std::string& path, OpenMode mode, OsError& error) override;
};

}  // namespace morva
