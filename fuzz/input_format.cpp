#include "fuzz/input_format.h"

namespace morva::fuzz {

namespace {

// Session configuration, byte 0: bits 0-1 direction (3 is Verify), bits 2-3 kind (3 is the
// firmware), bits 4-5 tail (0 and 1 correct), bit 6 Repeat, bit 7 an oddity chosen by the seed.
// Byte 1: bits 0-2 file size, 3-4 content, 5-6 name, 7 cancel. Byte 2: bits 0-3 Yes answers to
// differences, bit 4 overwrite declined, 5 existence flipped, 6 read-only, 7 device differs.
// Byte 3: the seed; with an oddity its two low bits say which one.
constexpr std::uint8_t oddityBit = 0x80;

// Action byte: bits 0-3 mode (0-6 and 15 correct), bits 4-5 pending polls, bit 6 a stale step
// message, bit 7 an interference byte follows (even: Stop, odd: Restart); then the arguments.
constexpr std::array<Mode, 16> modeByNibble{
    Mode::Correct,   Mode::Correct,      Mode::Correct, Mode::Correct, Mode::Correct, Mode::Correct,
    Mode::Correct,   Mode::FlipResealed, Mode::Flip,    Mode::Short,   Mode::Nak,     Mode::Noise,
    Mode::PollFails, Mode::StartFails,   Mode::Silent,  Mode::Twice};
constexpr std::array<int, 4> pendingByBits{0, 0, 1, 3};

int argumentCount(Mode mode) {
  switch (mode) {
    case Mode::FlipResealed:
    case Mode::Flip:
      return 2;
    case Mode::Short:
    case Mode::Noise:
    case Mode::PollFails:
    case Mode::StartFails:
      return 1;
    default:
      return 0;
  }
}

std::uint8_t nibbleOf(Mode mode) {
  for (std::size_t i = 0; i < modeByNibble.size(); ++i)
    if (modeByNibble[i] == mode) return static_cast<std::uint8_t>(i);
  return 0;
}

}  // namespace

SessionConfig decodeConfig(Input& input) {
  const std::uint8_t b0 = input.next(), b1 = input.next(), b2 = input.next(), b3 = input.next();
  SessionConfig c;
  const int direction = b0 & 3, kind = (b0 >> 2) & 3, tail = (b0 >> 4) & 3;
  c.direction = static_cast<Direction>(direction == 3 ? 2 : direction);
  c.kind = static_cast<DataKind>(kind == 3 ? 0 : kind);
  c.tail = tail < 2 ? Tail::Correct : (tail == 2 ? Tail::Silent : Tail::CorrectThenSilent);
  c.repeat = (b0 & 0x40) != 0;
  c.oddity = (b0 & oddityBit) != 0 ? static_cast<Oddity>((b3 & 3) + 1) : Oddity::None;
  c.size = static_cast<FileSize>(b1 & 7);
  c.content = static_cast<Content>((b1 >> 3) & 3);
  c.name = static_cast<NameStyle>((b1 >> 5) & 3);
  c.cancelChooser = (b1 & 0x80) != 0;
  c.verifyYes = b2 & 15;
  c.overwriteYes = (b2 & 0x10) == 0;
  c.flipExistence = (b2 & 0x20) != 0;
  c.readOnly = (b2 & 0x40) != 0;
  c.deviceDiffers = (b2 & 0x80) != 0;
  c.seed = b3;
  return c;
}

std::array<std::uint8_t, configSize> encodeConfig(const SessionConfig& c) {
  const int tail = c.tail == Tail::Correct ? 0 : (c.tail == Tail::Silent ? 2 : 3);
  std::uint8_t b0 = static_cast<std::uint8_t>(static_cast<int>(c.direction) |
                                              static_cast<int>(c.kind) << 2 | tail << 4);
  std::uint8_t b3 = c.seed;
  if (c.repeat) b0 |= 0x40;
  if (c.oddity != Oddity::None) {
    b0 |= oddityBit;
    b3 = static_cast<std::uint8_t>((b3 & ~3) | (static_cast<int>(c.oddity) - 1));
  }
  const auto b1 =
      static_cast<std::uint8_t>(static_cast<int>(c.size) | static_cast<int>(c.content) << 3 |
                                static_cast<int>(c.name) << 5 | c.cancelChooser << 7);
  const auto b2 =
      static_cast<std::uint8_t>(c.verifyYes | !c.overwriteYes << 4 | c.flipExistence << 5 |
                                c.readOnly << 6 | c.deviceDiffers << 7);
  return {b0, b1, b2, b3};
}

Action decodeAction(Input& input) {
  const std::uint8_t b = input.next();
  Action a;
  a.mode = modeByNibble[b & 15];
  a.pendingPolls = pendingByBits[(b >> 4) & 3];
  a.stalePost = (b & 0x40) != 0;
  if ((b & 0x80) != 0)
    a.interference = (input.next() & 1) == 0 ? Interference::Stop : Interference::Restart;
  const int args = argumentCount(a.mode);
  if (args >= 1) a.arg1 = input.next();
  if (args >= 2) a.arg2 = input.next();
  return a;
}

std::vector<std::uint8_t> encodeAction(const Action& a) {
  const int pendingBits = a.pendingPolls == 0 ? 0 : (a.pendingPolls == 1 ? 2 : 3);
  std::uint8_t b = static_cast<std::uint8_t>(nibbleOf(a.mode) | pendingBits << 4);
  if (a.stalePost) b |= 0x40;
  std::vector<std::uint8_t> bytes{b};
  if (a.interference != Interference::None) {
    bytes[0] |= 0x80;
    bytes.push_back(a.interference == Interference::Stop ? 0 : 1);
  }
  const int args = argumentCount(a.mode);
  if (args >= 1) bytes.push_back(a.arg1);
  if (args >= 2) bytes.push_back(a.arg2);
  return bytes;
}

InputBuilder& InputBuilder::session(const SessionConfig& config) {
  const auto b = encodeConfig(config);
  bytes_.insert(bytes_.end(), b.begin(), b.end());
  return *this;
}

InputBuilder& InputBuilder::action(const Action& action) {
  const auto b = encodeAction(action);
  bytes_.insert(bytes_.end(), b.begin(), b.end());
  return *this;
}

InputBuilder& InputBuilder::correct(int count) {
  for (int i = 0; i < count; ++i) action(Action{});
  return *this;
}

InputBuilder& InputBuilder::cleanBlocks(Direction direction, int blocks) {
  return correct(openingOperations + blocks * operationsPerBlock(direction));
}

}  // namespace morva::fuzz
