// Files for tests: a private folder made for the test alone (two copies of the suite may run
// side by side), and the few byte helpers every suite needs.
#pragma once

#include <algorithm>
#include <cctype>
#include <chrono>
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

// A fresh folder under the system's temporary directory, removed with its content; its path
// is empty when none could be made. A folder is made only where none stood (as mkdtemp would,
// which mingw lacks), so copies of a suite running side by side never share one.
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    std::mt19937_64 names(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100 && !error; ++attempt) {
      const fs::path candidate = base / ("morva-test-" + std::to_string(names() % 1000000000));
      if (fs::create_directory(candidate, error)) {
        path_ = candidate;
        return;
      }
    }
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

// `name` as a test's name may stand: every character but a letter or a digit becomes '_'.
inline std::string asTestName(std::string name) {
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

}  // namespace morva::testing
