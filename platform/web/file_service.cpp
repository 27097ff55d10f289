#include "platform/web/file_service.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdlib>

#include "platform/web/browser.h"

// clang-format off
EM_JS(int, morva_file_role, (const char* name), {
  return morvaHost.files.role(UTF8ToString(name));
});
// The source's bytes into a buffer of malloc's, its length in *size; null with *size set to
// -1 and the reason in *error when the browser cannot read it.
EM_ASYNC_JS(unsigned char*, morva_file_read, (const char* name, int* size, char** error), {
  try {
    const bytes = await morvaHost.files.read(UTF8ToString(name));
    const at = _malloc(Math.max(1, bytes.length));
    HEAPU8.set(bytes, at);
    HEAP32[size >> 2] = bytes.length;
    return at;
  } catch (e) {
    HEAP32[size >> 2] = -1;
    HEAP32[error >> 2] = morvaHost.text(morvaHost.describe(e));
    return 0;
  }
});
EM_ASYNC_JS(char*, morva_file_save, (const char* name, const unsigned char* bytes, int size), {
  return morvaHost.text(await morvaHost.files.save(UTF8ToString(name), HEAPU8.slice(bytes, bytes + size)));
});
// clang-format on

namespace morva {
namespace {

constexpr int roleSource = 1;
constexpr int roleTarget = 2;

OsError missing(const std::string& path) {
  return OsError{2, path.empty() ? "no file was chosen" : "not chosen in this page",
                 FailureCause::NotFound};
}

// A target: its blocks go to the browser when the session closes it.
class TargetFile : public MemoryFile {
 public:
  explicit TargetFile(std::string name) : name_(std::move(name)) {}
  bool close() override {
    if (closed_) return true;
    closed_ = true;
    const std::vector<std::uint8_t>& data = bytes();
    const std::string refusal =
        browser::adopt(morva_file_save(name_.c_str(), data.data(), static_cast<int>(data.size())));
    if (refusal.empty()) return true;
    error_ = browser::errorFrom(refusal);
    return false;
  }
  ~TargetFile() override { close(); }

 private:
  std::string name_;
  bool closed_ = false;
};

}  // namespace

MemoryFile::ReadResult MemoryFile::read(std::span<std::uint8_t> into) {
  const std::size_t left = bytes_.size() - std::min(position_, bytes_.size());
  const std::size_t n = std::min(into.size(), left);
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), n, into.begin());
  position_ += n;
  return ReadResult{n, n < into.size(), false};
}

bool MemoryFile::write(std::span<const std::uint8_t> bytes) {
  if (bytes_.size() < position_ + bytes.size()) bytes_.resize(position_ + bytes.size());
  std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
  position_ += bytes.size();
  return true;
}

bool MemoryFile::seek(std::uint64_t offset) {
  position_ = static_cast<std::size_t>(offset);
  return true;
}

bool MemoryFile::truncate(std::uint64_t length) {
  bytes_.resize(static_cast<std::size_t>(length));
  return true;
}

PathInfo WebFileService::inspect(const std::string& path) {
  PathInfo info;
  if (morva_file_role(path.c_str()) == roleSource)
    info.kind = PathKind::Regular;
  else
    info.error = missing(path);
  return info;
}

std::unique_ptr<OpenFile> WebFileService::open(const std::string& path, OpenMode mode,
                                               OsError& error) {
  const int role = morva_file_role(path.c_str());
  if (mode != OpenMode::Read) {
    if (role == roleTarget) return std::make_unique<TargetFile>(path);
    error = missing(path);
    return nullptr;
  }
  if (role != roleSource) {
    error = missing(path);
    return nullptr;
  }
  int size = 0;
  char* why = nullptr;
  unsigned char* bytes = morva_file_read(path.c_str(), &size, &why);
  if (size < 0) {
    error = browser::errorFrom(browser::adopt(why));
    return nullptr;
  }
  std::vector<std::uint8_t> content(bytes, bytes + size);
  std::free(bytes);
  return std::make_unique<MemoryFile>(std::move(content));
}

}  // namespace morva
