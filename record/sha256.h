// SHA-256 of the data a session moved, for the record of each session: the digest anyone can
// compare with `sha256sum` of the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace morva {

class Sha256 {
 public:
  Sha256();
  void update(std::span<const std::uint8_t> bytes);
  // The digest of everything given so far, in lowercase hexadecimal; the state is left as it
  // was, so that more may be added after.
  std::string hex() const;

 private:
  void compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pendingSize_ = 0;
  std::uint64_t length_ = 0;  // bytes
};

}  // namespace morva
