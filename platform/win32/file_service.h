// The data files on Windows: CreateFileA with the direction's access, shared as the C runtime
// shares its files, and from then on only the handle: GetFileInformationByHandle for the kind
// and the identity, SetEndOfFile to empty, LockFileEx for the lock.
#pragma once

#include <vector>

#include "transfer/file_service.h"

namespace morva {

// What standard output and standard error are where they are files on a disk, so that no data
// file of a session is opened on the same file as the program's own messages.
std::vector<FileIdentity> standardOutputIdentities();

class Win32FileService : public FileService {
 public:
  PathInfo inspect(const std::string& path) override;
  std::unique_ptr<OpenFile> open(const std::string& path, OpenMode mode, OsError& error) override;
};

}  // namespace morva
