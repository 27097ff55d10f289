// Files for tests: a private folder made for the test alone (two copies of the suite may run
// side by side), and the few byte helpers every suite needs.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace morva::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary directory, removed with its content.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "morva-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  // The path of `name` in the folder, as text; the file is written first when given content.
  std::string file(const std::string& name,
                   const std::vector<std::uint8_t>* content = nullptr) const;

 private:
  fs::path path_;
};

inline Bytes randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
  return bytes;
}

inline Bytes readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Writes `bytes` to `p` and returns its path as text.
inline std::string writeFile(const fs::path& p, const Bytes& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

inline std::string ScratchDir::file(const std::string& name, const Bytes* content) const {
  const fs::path p = path_ / name;
  if (content != nullptr) writeFile(p, *content);
  return p.string();
}

// bytes[from, from + count), clipped to what there is.
inline Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  from = std::min(from, bytes.size());
  count = std::min(count, bytes.size() - from);
  return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
          bytes.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

}  // namespace morva::testing
