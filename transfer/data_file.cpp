#include "transfer/data_file.h"

#include <algorithm>

namespace morva {

DataFile::~DataFile() {
  close();
}

bool DataFile::open(FileService& files, const std::string& path, Mode mode) {
  close();
  path_ = path;
  mode_ = mode;
  position_ = 0;
  length_.reset();
  written_.clear();
  if (mode == Mode::Input) {
    file_ = files.open(path, OpenMode::Read, lastError_);
    if (file_ == nullptr) return false;
    // A pipe or a terminal may keep a read waiting for ever, and the loop with it.
    const PathKind kind = file_->kind();
    if (kind != PathKind::Regular && kind != PathKind::BlockDevice) {
      lastError_ = OsError{
          0,
          kind == PathKind::Directory ? "a folder, not a file" : "a pipe or a device, not a file",
          FailureCause::Other};
      file_.reset();
      return false;
    }
    length_ = file_->length();
    // Files of the kernel's (/proc) report 0 whatever they hold: read as the OS gives them.
    if (length_ == 0u) length_.reset();
    return true;
  }
  // An existing file is opened for update so that its content survives until truncate(); a
  // missing one is created, refusing to clobber one that appeared meanwhile. A device or a
  // pipe has no content to keep, and opened for reading too, a pipe would have us as its own
  // reader: it is opened for writing only, so that it waits for a real reader.
  const PathKind kind = files.inspect(path).kind;
  const bool regularOrMissing = kind == PathKind::Regular || kind == PathKind::Missing;
  file_ = files.open(path, regularOrMissing ? OpenMode::Update : OpenMode::WriteOnly, lastError_);
  // Only a file that is not there is created: an existing one refused for update (a read-only
  // mount, no permission) keeps the OS's reason, which a creation's "File exists" would hide.
  if (file_ == nullptr && regularOrMissing && lastError_.cause == FailureCause::NotFound)
    file_ = files.open(path, OpenMode::CreateNew, lastError_);
  return file_ != nullptr;
}

bool DataFile::close() {
  if (file_ == nullptr) return true;
  const bool closed = file_->close();
  if (!closed) lastError_ = file_->lastError();
  file_.reset();
  return closed;
}

bool DataFile::truncate() {
  if (file_ == nullptr || mode_ != Mode::Output) return false;
  // A device or a pipe holds no content to lose, and may not be positioned.
  if (file_->kind() != PathKind::Regular) return true;
  written_.clear();
  return (file_->truncate(0) || failed()) && seek(0);
}

bool DataFile::cutTo(std::uint64_t length) {
  if (file_ == nullptr || mode_ != Mode::Output) return false;
  if (file_->kind() != PathKind::Regular) return true;
  if (length < written_.size()) written_.resize(static_cast<std::size_t>(length));
  return file_->truncate(length) || failed();
}

bool DataFile::holdsWhatWasWritten() {
  if (file_ == nullptr || mode_ != Mode::Output || file_->kind() != PathKind::Regular) return true;
  std::vector<std::uint8_t> content(written_.size() + 1);
  const auto length = file_->length();
  bool same = length == written_.size() && file_->seek(0);
  if (same) {
    const ReadResult back = file_->read(content);
    same = !back.error && back.count == written_.size() &&
           std::equal(written_.begin(), written_.end(), content.begin());
  }
  if (!same)
    lastError_ = OsError{0,
                         "another program cut it short or wrote into it while the device's "
                         "blocks were being written into it",
                         FailureCause::Other};
  return same;
}

bool DataFile::isTerminal() {
  return file_ != nullptr && file_->isTerminal();
}

std::optional<FileIdentity> DataFile::identity() {
  return file_ != nullptr ? file_->identity() : std::nullopt;
}

bool DataFile::stillAtPath() {
  return file_ != nullptr && (file_->isAt(path_) || failed());
}

DataFile::ReadResult DataFile::read(std::span<std::uint8_t> into) {
  if (file_ == nullptr) return ReadResult{0, false, true};
  std::size_t wanted = into.size();
  if (length_) {
    const std::uint64_t left = *length_ > position_ ? *length_ - position_ : 0;
    wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, left));
  }
  ReadResult result = wanted > 0 ? file_->read(into.first(wanted)) : ReadResult{0, true, false};
  position_ += result.count;
  if (result.error) {
    failed();
  } else if (length_ && result.count < wanted) {
    lastError_ = OsError{0, "the file became shorter while it was being read", FailureCause::Other};
    result.endOfFile = false;
    result.error = true;
  } else if (wanted < into.size()) {
    result.endOfFile = true;
  }
  return result;
}

bool DataFile::write(std::span<const std::uint8_t> bytes) {
  if (file_ == nullptr || !(file_->write(bytes) || failed())) return false;
  if (mode_ == Mode::Output) {
    const auto end = static_cast<std::size_t>(position_) + bytes.size();
    if (written_.size() < end) written_.resize(end);
    std::copy(bytes.begin(), bytes.end(),
              written_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ = end;
  }
  return true;
}

bool DataFile::seek(std::uint32_t offset) {
  if (file_ == nullptr || !(file_->seek(offset) || failed())) return false;
  position_ = offset;
  return true;
}

bool DataFile::lock() {
  if (file_ == nullptr) return false;
  const PathKind kind = file_->kind();
  if (kind != PathKind::Regular && kind != PathKind::BlockDevice) return true;
  return file_->lock(mode_ == Mode::Input ? LockKind::Shared : LockKind::Exclusive) || failed();
}

void DataFile::unlock() {
  if (file_ != nullptr) file_->unlock();
}

bool DataFile::failed() {
  lastError_ = file_->lastError();
  return false;
}

}  // namespace morva
