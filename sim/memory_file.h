// The file a simulated device keeps its memory in between runs: held by one device at a time,
// reached through symbolic links, known at the start to be one a save can replace, and
// replaced in one step when saved.
#pragma once

#include <string>

#include "sim/memory_image.h"

namespace morva::sim {

class MemoryFile {
 public:
  // Follows `path` through symbolic links, makes sure its folder takes a new file, and takes
  // the advisory lock PATH.lock. Throws std::runtime_error saying why when it cannot: another
  // simulated device holds it, or a save would fail (a read-only or missing folder).
  explicit MemoryFile(const std::string& path);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Loads the image when the file is there (a missing one leaves `image` erased). False, with
  // `error`, when what is there is no memory image.
  bool loadInto(MemoryImage& image, std::string& error) const;
  bool save(const MemoryImage& image, std::string& error) const;
  const std::string& path() const { return path_; }

 private:
  std::string given_;
  std::string path_;  // where the links lead
  int lock_ = -1;
};

}  // namespace morva::sim
