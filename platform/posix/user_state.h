// The user's own state on this machine: a folder that outlives a run ($XDG_STATE_HOME/morva),
// and an exclusive hold on a file in it while a run uses it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "transfer/serial_port.h"

namespace morva {

// $XDG_STATE_HOME/morva, or ~/.local/state/morva; created when missing. None, with `why`
// set, when neither variable gives a place or the folder cannot be made.
std::optional<std::filesystem::path> userStateFolder(std::string& why);

// An exclusive advisory lock on `path` (created when missing), held until destroyed. Another
// holder makes take() fail at once with cause Busy.
class HeldFile {
 public:
  static std::optional<HeldFile> take(const std::filesystem::path& path, OsError& error);
  HeldFile(HeldFile&& other) noexcept;
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  ~HeldFile();

 private:
  explicit HeldFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace morva
