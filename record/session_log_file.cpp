#include "record/session_log_file.h"

#include <algorithm>
#include <vector>

#include "record/sha256.h"
#include "transfer/frames.h"
#include "transfer/version.h"
#include "transfer/wording.h"

namespace morva {
namespace {

const char* kindName(DataKind kind) {
  switch (kind) {
    case DataKind::FirmwareUpgrade:
      return "program";
    case DataKind::FixtureLibraries:
      return "libraries";
    case DataKind::UserData:
      return "user";
  }
  return "";
}

const char* directionName(Direction direction) {
  switch (direction) {
    case Direction::WriteToDevice:
      return "write";
    case Direction::ReadFromDevice:
      return "read";
    case Direction::Verify:
      return "verify";
  }
  return "";
}

const char* outcomeName(const SessionState& state) {
  switch (state.outcome) {
    case SessionOutcome::Completed:
      return state.differences > 0 ? "failed" : "completed";
    case SessionOutcome::Declined:
      return "declined";
    case SessionOutcome::Stopped:
      return "stopped";
    case SessionOutcome::Failed:
    case SessionOutcome::None:
    case SessionOutcome::Running:
      break;
  }
  return "failed";
}

constexpr std::uint64_t wholeFile = UINT64_MAX;

// The SHA-256 of the first `limit` bytes of `path`, and how many there were; nothing when it
// cannot be read (a pipe, a device gone).
std::pair<std::string, std::uint64_t> digestOf(FileService& files, const std::string& path,
                                               std::uint64_t limit) {
  OsError error;
  const auto file = files.open(path, OpenMode::Read, error);
  if (file == nullptr || file->kind() != PathKind::Regular) return {"", 0};
  Sha256 digest;
  std::uint64_t total = 0;
  std::vector<std::uint8_t> chunk(64 * 1024);
  for (;;) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), limit - total));
    if (wanted == 0) break;
    const auto read = file->read(std::span(chunk).first(wanted));
    if (read.error) return {"", 0};
    digest.update(std::span(chunk).first(read.count));
    total += read.count;
    if (read.endOfFile || read.count < wanted) break;
  }
  return {digest.hex(), total};
}

}  // namespace

SessionRecord recordOf(const SessionState& state, const std::string& port, const std::string& file,
                       std::chrono::system_clock::time_point start,
                       std::chrono::system_clock::time_point end, FileService& files, bool found) {
  SessionRecord r;
  r.start = isoTime(start);
  r.end = isoTime(end);
  r.program = std::string(versionNumber());
  r.port = port;
  r.versions = {state.firmwareVersionText, state.secondVersionText};
  r.kind = kindName(state.dataKind);
  r.direction = directionName(state.direction);
  r.file = file;
  if (!found) {
    r.outcome = "not-found";
    r.message = "A problem : Vk350 not found !";
    return r;
  }
  r.blocksDone = static_cast<unsigned>(state.currentBlock - state.firstBlock);
  r.blocks = r.blocksDone + state.blocksLeft;
  r.outcome = outcomeName(state);
  if (state.failure) {
    const Message m = failureMessage(*state.failure);
    r.message = m.caption + (m.caption.ends_with(':') ? " " : ": ") + m.text;
  } else if (state.differences > 0) {
    r.message = "Veryfication found " + std::to_string(state.differences) + " differing bytes";
  }
  // A read's file as it was read back; a write's or a verification's blocks that went.
  const bool reading = state.direction == Direction::ReadFromDevice;
  const std::uint64_t limit = reading ? wholeFile : std::uint64_t{r.blocksDone} * blockSize;
  const auto [sha, bytes] = digestOf(files, file, limit);
  r.sha256 = sha;
  r.bytes = bytes;
  return r;
}

bool SessionLog::open(FileService& files, const std::string& path, std::string& why) {
  const PathInfo info = files.inspect(path);
  if (info.kind != PathKind::Regular && info.kind != PathKind::Missing) {
    why = path + ": not a file (a folder, a pipe or a device): the log must be a file";
    return false;
  }
  OsError error;
  file_ = files.open(path, OpenMode::Append, error);
  if (file_ == nullptr || file_->kind() != PathKind::Regular) {
    why = file_ == nullptr ? describeFailure(path, error) : path + ": not a file";
    file_.reset();
    return false;
  }
  path_ = path;
  files_ = &files;
  return true;
}

bool SessionLog::endsWithALine() {
  OsError error;
  const auto reader = files_->open(path_, OpenMode::Read, error);
  const auto length = reader != nullptr ? reader->length() : std::nullopt;
  if (!length || *length == 0) return true;
  std::uint8_t last = 0;
  return !reader->seek(*length - 1) || reader->read(std::span(&last, 1)).count != 1 ||
         last == '\n';
}

bool SessionLog::append(const SessionRecord& record, std::string& why) {
  if (file_ == nullptr) {
    why = "no log is open";
    lost_ = true;
    return false;
  }
  std::string line = toJsonLine(record) + "\n";
  // A line an earlier write left unfinished (a full disk) would swallow this one's start.
  if (!endsWithALine()) line.insert(0, "\n");
  const auto before = file_->length();
  if (file_->write({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()})) return true;
  const OsError error = file_->lastError();
  // The part of the line that went is taken back where nothing else was added after it.
  if (const auto after = file_->length();
      before && after && *after > *before && *after - *before < line.size())
    file_->truncate(*before);
  why = describeFailure(path_, error) + ": this session's record is not in the log";
  lost_ = true;
  return false;
}

}  // namespace morva
