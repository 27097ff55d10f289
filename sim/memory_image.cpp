#include "sim/memory_image.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace morva::sim {

MemoryImage::MemoryImage() : bytes_(byteCount, erased) {}

MemoryImage::Block MemoryImage::block(std::uint16_t number) const {
  Block data{};
  std::lock_guard lock(mutex_);
  const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(number * blockSize);
  std::copy(from, from + blockSize, data.begin());
  return data;
}

void MemoryImage::setBlock(std::uint16_t number, const Block& data) {
  std::lock_guard lock(mutex_);
  std::copy(data.begin(), data.end(),
            bytes_.begin() + static_cast<std::ptrdiff_t>(number * blockSize));
}

std::vector<std::uint8_t> MemoryImage::snapshot() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

void MemoryImage::assign(std::span<const std::uint8_t> bytes) {
  const auto used = std::min(bytes.size(), byteCount);
  std::lock_guard lock(mutex_);
  std::copy_n(bytes.begin(), used, bytes_.begin());
  std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(used), bytes_.end(), erased);
}

bool MemoryImage::load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::vector<std::uint8_t> data;
  data.reserve(byteCount);
  std::copy(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(),
            std::back_inserter(data));
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  if (data.size() > byteCount) {
    error = path + " holds " + std::to_string(data.size()) + " bytes, more than the " +
            std::to_string(byteCount) + " of the device";
    return false;
  }
  assign(data);
  return true;
}

bool MemoryImage::save(const std::string& path, std::string& error) const {
  const auto data = snapshot();
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
      error = "cannot write " + temporary;
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    error = "cannot replace " + path + ": " + ec.message();
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace morva::sim
