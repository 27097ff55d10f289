// What the OS knows a file or a device by, whatever path names it: a symbolic link, a hard link
// or a second device node reach the same identity. Lets a session refuse to read into its own
// serial port, or a backup to replace the very file it was to save.
#pragma once

#include <cstdint>

namespace morva {

struct FileIdentity {
  bool device = false;       // a character or block device: `number` is the device's number
  std::uint64_t volume = 0;  // a file: the file system it lives on
  std::uint64_t number = 0;  // a file: its number there
  bool operator==(const FileIdentity&) const = default;
};

}  // namespace morva
