// The controller's 1 MiB of block memory: 4096 blocks of 256 bytes. Every access takes the
// lock, so the device thread and a test may use it at the same time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace morva::sim {

class MemoryImage {
 public:
  static constexpr std::size_t blockSize = 256;
  static constexpr std::size_t blockCount = 4096;
  static constexpr std::size_t byteCount = blockSize * blockCount;
  // Erased memory reads as 0xFF, as flash does.
  static constexpr std::uint8_t erased = 0xFF;
  using Block = std::array<std::uint8_t, blockSize>;

  MemoryImage();

  // `number` must be below blockCount.
  Block block(std::uint16_t number) const;
  void setBlock(std::uint16_t number, const Block& data);

  // A copy of all byteCount bytes.
  std::vector<std::uint8_t> snapshot() const;
  // Puts `bytes` (at most byteCount) at the start; the rest is erased.
  void assign(std::span<const std::uint8_t> bytes);

  // Loads a raw image of at most byteCount bytes (a shorter one leaves the rest erased).
  // False with `error` set when the file cannot be read, is too large, or is not a regular
  // file; it never waits on a pipe.
  bool load(const std::string& path, std::string& error);
  // Writes all byteCount bytes, replacing the file in one step (temporary file, rename). On
  // failure the file is as it was and no temporary file is left.
  bool save(const std::string& path, std::string& error) const;

  // The temporary file a save of `path` writes first.
  static std::string temporaryFor(const std::string& path);
  // Creates it anew, never through a link or over a file someone put there: a stale one of ours
  // is removed first. The descriptor, or -1 with `error` set.
  static int createTemporary(const std::string& temporary, std::string& error);

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace morva::sim
