// How a fuzz input describes a device and an operator: the bytes are read in order, one
// session configuration (4 bytes) at a time, then one action for every read or write the
// engine starts. The same encoding serves the fuzz target, the seed generator and the tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "transfer/kinds.h"

namespace morva::fuzz {

// The input as a byte stream that answers with a fallback once it has run out.
class Input {
 public:
  explicit Input(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool exhausted() const { return next_ >= bytes_.size(); }
  std::uint8_t next(std::uint8_t fallback = 0) { return exhausted() ? fallback : bytes_[next_++]; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t next_ = 0;
};

// What the device does once the input has run out.
enum class Tail : std::uint8_t {
  Correct,           // answers every frame correctly, so the session can run to its end
  Silent,            // every read ends as a timeout with no byte
  CorrectThenSilent  // answers a few more frames, then falls silent
};

// Unusual starts that the menus, the port list and the chooser can lead to. UnusualFile is
// a directory, or (seed bit 2) a device file that fails every transfer: /dev/full as a read's
// target, /proc/self/mem as a write's or verify's source.
enum class Oddity : std::uint8_t { None, NoPort, UnusualFile, DirectionOutOfRange, KindOutOfRange };

// The data file's length; Full is the kind's whole image.
enum class FileSize : std::uint8_t {
  Empty,
  Bytes300,
  Bytes512,
  OneBlock,
  Bytes2000,
  Full,
  FullPlus1000,
  Odd
};
enum class Content : std::uint8_t { Zeros, Pattern, Ones, Noise };
// The name the operator picks: the kind's extension, "bin" in two spellings, or a foreign one.
enum class NameStyle : std::uint8_t { DefaultExtension, Bin, MixedCaseBin, Foreign };

inline constexpr int allQuestionsYes = 15;

struct SessionConfig {
  Direction direction = Direction::WriteToDevice;
  DataKind kind = DataKind::FirmwareUpgrade;
  Tail tail = Tail::Correct;
  bool repeat = false;  // reuse the previous file without the chooser
  Oddity oddity = Oddity::None;

  FileSize size = FileSize::Bytes300;
  Content content = Content::Pattern;
  NameStyle name = NameStyle::DefaultExtension;
  bool cancelChooser = false;

  int verifyYes = allQuestionsYes;  // differences answered Yes before the first No
  bool overwriteYes = true;
  bool flipExistence = false;  // a read's target exists; a write's or verify's file is missing
  bool readOnly = false;
  bool deviceDiffers = false;  // the device's memory differs from the file in one byte a block
  std::uint8_t seed = 0;
  bool operator==(const SessionConfig&) const = default;
};

inline constexpr std::size_t configSize = 4;
SessionConfig decodeConfig(Input& input);
std::array<std::uint8_t, configSize> encodeConfig(const SessionConfig& config);

// What the device does with one read or write.
enum class Mode : std::uint8_t {
  Correct,       // the expected answer or frame; a write completes
  FlipResealed,  // one byte changed and the checksum made right again (a write: short count)
  Flip,          // one byte changed, checksum left wrong (a write: short count)
  Short,         // fewer bytes than asked for
  Nak,           // NAK where an answer is due (in place of the reply's ACK, or alone)
  Noise,         // bytes from a generator
  PollFails,     // the poll reports an OS error
  StartFails,    // the port refuses to start the operation
  Silent,        // completes with no byte (a read's timeout)
  Twice          // a read's answer sent two times over: the copy waits, asked for by nobody
};

// What the operator does right after the step that started the operation.
enum class Interference : std::uint8_t { None, Stop, Restart };

struct Action {
  Mode mode = Mode::Correct;
  int pendingPolls = 0;    // 0, 1 or 3
  bool stalePost = false;  // a step message with a number that is no longer current
  Interference interference = Interference::None;
  std::uint8_t arg1 = 0;  // position, count, generator seed or error number
  std::uint8_t arg2 = 0;  // the bits a flip changes
  bool operator==(const Action&) const = default;
};

// An action of `mode` with its arguments, everything else as by default.
inline Action act(Mode mode, std::uint8_t arg1 = 0, std::uint8_t arg2 = 0) {
  Action a;
  a.mode = mode;
  a.arg1 = arg1;
  a.arg2 = arg2;
  return a;
}

Action decodeAction(Input& input);
std::vector<std::uint8_t> encodeAction(const Action& action);

// Builds inputs by hand: the seeds and the replay tests' deep cases.
class InputBuilder {
 public:
  InputBuilder& session(const SessionConfig& config);
  InputBuilder& action(const Action& action);
  InputBuilder& correct(int count = 1);
  // The correct operations of a session's opening and of `blocks` whole blocks.
  InputBuilder& cleanBlocks(Direction direction, int blocks);
  std::vector<std::uint8_t> bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Operations the engine starts: the opening (WakeUp, identification) and one block's cycle.
inline constexpr int openingOperations = 2;
inline int operationsPerBlock(Direction direction) {
  return direction == Direction::WriteToDevice ? 4 : 3;
}

}  // namespace morva::fuzz
