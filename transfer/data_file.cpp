#include "transfer/data_file.h"

#include <filesystem>
#include <system_error>

namespace morva {

DataFile::~DataFile() {
  close();
}

bool DataFile::open(const std::string& path, Mode mode) {
  close();
  path_ = path;
  mode_ = mode;
  if (mode == Mode::Input) {
    file_ = std::fopen(path.c_str(), "rb");
    return file_ != nullptr;
  }
  // An existing file is opened for update so that its content survives until truncate();
  // "x" creates a missing one and refuses to clobber one that appeared meanwhile. A device or
  // a pipe has no content to keep, and opened for reading too, a pipe would have us as its
  // own reader: it is opened for writing only, so that it waits for a real reader.
  std::error_code error;
  const bool regularOrMissing =
      std::filesystem::is_regular_file(path, error) || !std::filesystem::exists(path, error);
  file_ = std::fopen(path.c_str(), regularOrMissing ? "r+b" : "wb");
  if (file_ == nullptr && regularOrMissing) file_ = std::fopen(path.c_str(), "wbx");
  if (file_ == nullptr) return false;
  // Unbuffered: each block goes to the OS in one write, and a failed write leaves nothing
  // behind in the stream that a later retry or seek could stumble over.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

bool DataFile::close() {
  if (file_ == nullptr) return true;
  const int result = std::fclose(file_);
  file_ = nullptr;
  return result == 0;
}

bool DataFile::truncate() {
  namespace fs = std::filesystem;
  if (file_ == nullptr || mode_ != Mode::Output || std::fflush(file_) != 0) return false;
  std::error_code error;
  const fs::file_type type = fs::status(path_, error).type();
  if (type != fs::file_type::regular) {
    // A device or a pipe holds no content to lose (and may not be positioned); a file that
    // vanished since it was opened cannot be emptied.
    return type != fs::file_type::not_found && type != fs::file_type::none &&
           type != fs::file_type::unknown;
  }
  fs::resize_file(path_, 0, error);
  return !error && std::fseek(file_, 0, SEEK_SET) == 0;
}

DataFile::ReadResult DataFile::read(std::span<std::uint8_t> into) {
  ReadResult result;
  if (file_ == nullptr) {
    result.error = true;
    return result;
  }
  result.count = std::fread(into.data(), 1, into.size(), file_);
  if (result.count < into.size()) {
    result.error = std::ferror(file_) != 0;
    result.endOfFile = !result.error && std::feof(file_) != 0;
  }
  return result;
}

bool DataFile::write(std::span<const std::uint8_t> bytes) {
  if (file_ == nullptr) return false;
  const std::size_t count = std::fwrite(bytes.data(), 1, bytes.size(), file_);
  const bool flushed = std::fflush(file_) == 0;
  return count == bytes.size() && flushed;
}

bool DataFile::seek(std::uint32_t offset) {
  return file_ != nullptr && std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
}

void DataFile::clearState() {
  if (file_ != nullptr) std::clearerr(file_);
}

}  // namespace morva
