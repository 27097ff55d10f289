#include "fuzz/seeds.h"

#include <string_view>
#include <utility>

#include "fuzz/input_format.h"
#include "tests/support/short_names.h"

namespace morva::fuzz {

namespace {

using namespace testing::short_names;

// Operation numbers within a session: the WakeUp and the identification, then per block the
// command, its answer, the frame and (for a write) the frame's answer.
constexpr int wakeUp = 0, identificationRead = 1, commandWrite = 2, commandAnswer = 3,
              dataFrame = 4, frameAnswer = 5;

SessionConfig config(Direction d, DataKind k, FileSize size = FileSize::Bytes2000) {
  SessionConfig c;
  c.direction = d;
  c.kind = k;
  c.size = size;
  return c;
}

// A session whose operation `at` meets `fault`; the rest is answered correctly.
std::vector<std::uint8_t> faultAt(const SessionConfig& c, int at, const Action& fault) {
  return InputBuilder().session(c).correct(at).action(fault).bytes();
}

std::string_view kindName(DataKind k) {
  return k == FW ? "firmware" : (k == LIB ? "libraries" : "user");
}

void addCleanSessions(std::vector<NamedInput>& seeds) {
  // Full images for the smaller kinds; a user-data read is answered for as many blocks as a
  // 2000-byte file has, then the device falls silent.
  const FileSize writeSize[] = {FileSize::Bytes2000, FileSize::Full, FileSize::Bytes300};
  const FileSize readSize[] = {FileSize::Full, FileSize::FullPlus1000, FileSize::Bytes2000};
  const FileSize verifySize[] = {FileSize::Full, FileSize::Bytes512, FileSize::Odd};
  for (DataKind k : {FW, LIB, USR}) {
    const int i = static_cast<int>(k);
    const std::string name(kindName(k));
    const SessionConfig read = config(R, k, readSize[i]);
    seeds.push_back(
        {"clean-write-" + name, InputBuilder().session(config(W, k, writeSize[i])).bytes()});
    seeds.push_back({"clean-read-" + name, InputBuilder().session(read).bytes()});
    SessionConfig verify = config(V, k, verifySize[i]);
    verify.content = Content::Noise;
    verify.seed = static_cast<std::uint8_t>(37 * (i + 1));
    seeds.push_back({"clean-verify-" + name, InputBuilder().session(verify).bytes()});
  }
}

void addDeviceFaults(std::vector<NamedInput>& seeds) {
  SessionConfig silent = config(W, FW);
  silent.tail = Tail::Silent;
  seeds.push_back({"silent-device", InputBuilder().session(silent).bytes()});
  seeds.push_back(
      {"identification-nak", faultAt(config(W, FW), identificationRead, act(Mode::Nak))});
  seeds.push_back({"identification-checksum",
                   faultAt(config(V, LIB), identificationRead, act(Mode::Flip, 4, 1))});
  seeds.push_back(
      {"identification-short", faultAt(config(R, USR), identificationRead, act(Mode::Short, 4))});
  // A valid reply with a major number of 10: the versions read "?.??".
  seeds.push_back(
      {"identification-odd-versions", faultAt(config(W, FW, FileSize::Bytes300), identificationRead,
                                              act(Mode::FlipResealed, 0, 0x08))});
  seeds.push_back({"command-nak", faultAt(config(R, LIB), commandAnswer, act(Mode::Nak))});
  // ACK with bits 0x47 flipped is 'A', an illegal answer.
  seeds.push_back({"command-illegal-answer",
                   faultAt(config(W, FW), commandAnswer, act(Mode::FlipResealed, 0, 0x47))});
  seeds.push_back({"frame-answer-silent", faultAt(config(W, LIB), frameAnswer, act(Mode::Silent))});
  seeds.push_back({"frame-short", faultAt(config(R, FW), dataFrame, act(Mode::Short, 200))});
  seeds.push_back(
      {"frame-checksum", faultAt(config(V, USR), dataFrame, act(Mode::Flip, 10, 0x10))});
  seeds.push_back({"frame-noise", faultAt(config(R, LIB), dataFrame + 3, act(Mode::Noise, 9))});
  seeds.push_back({"write-start-fails", faultAt(config(W, FW), wakeUp, act(Mode::StartFails, 4))});
  seeds.push_back(
      {"read-start-fails", faultAt(config(R, FW), identificationRead, act(Mode::StartFails, 4))});
  // A poll failure at every step that polls (error 5): WakeUp, identification, command,
  // answer, frame written, frame answered; and a frame received.
  const int writeOps[] = {wakeUp,        identificationRead, commandWrite,
                          commandAnswer, dataFrame,          frameAnswer};
  for (int at : writeOps)
    seeds.push_back({"poll-fails-write-op" + std::to_string(at),
                     faultAt(config(W, LIB), at, act(Mode::PollFails, 4))});
  seeds.push_back(
      {"poll-fails-read-frame", faultAt(config(R, USR), dataFrame, act(Mode::PollFails, 4))});
}

void addVerifications(std::vector<NamedInput>& seeds) {
  SessionConfig differs = config(V, FW, FileSize::Bytes2000);
  differs.deviceDiffers = true;
  seeds.push_back({"verify-differences-yes", InputBuilder().session(differs).bytes()});
  differs.kind = LIB;
  differs.verifyYes = 2;
  seeds.push_back({"verify-differences-no", InputBuilder().session(differs).bytes()});
  seeds.push_back(
      {"verify-resealed-difference",
       faultAt(config(V, USR, FileSize::Bytes512), dataFrame, act(Mode::FlipResealed, 5, 0xFF))});
  SessionConfig empty = config(V, LIB, FileSize::Empty);
  seeds.push_back({"verify-empty-file", InputBuilder().session(empty).bytes()});
}

void addOperatorPaths(std::vector<NamedInput>& seeds) {
  SessionConfig c = config(R, FW);
  c.flipExistence = true;
  c.overwriteYes = false;
  seeds.push_back({"overwrite-declined", InputBuilder().session(c).bytes()});
  c.overwriteYes = true;
  c.readOnly = true;
  seeds.push_back({"target-read-only", InputBuilder().session(c).bytes()});
  c = config(W, FW);
  c.cancelChooser = true;
  seeds.push_back({"chooser-cancelled", InputBuilder().session(c).bytes()});
  c = config(W, FW);
  c.name = NameStyle::Foreign;
  seeds.push_back({"extension-changed", InputBuilder().session(c).bytes()});
  c = config(W, USR, FileSize::Bytes300);
  c.name = NameStyle::MixedCaseBin;
  seeds.push_back({"user-data-bin", InputBuilder().session(c).bytes()});
  c = config(V, FW);
  c.flipExistence = true;
  seeds.push_back({"source-missing", InputBuilder().session(c).bytes()});
  const std::pair<Oddity, const char*> oddities[] = {
      {Oddity::NoPort, "no-port"},
      {Oddity::UnusualFile, "directory-chosen"},
      {Oddity::DirectionOutOfRange, "direction-out-of-range"},
      {Oddity::KindOutOfRange, "kind-out-of-range"}};
  for (const auto& [oddity, name] : oddities) {
    c = config(W, LIB);
    c.oddity = oddity;
    seeds.push_back({name, InputBuilder().session(c).bytes()});
  }
  // A read into /dev/full meets write errors; a write from /proc/self/mem read errors.
  for (Direction d : {R, W}) {
    c = config(d, FW);
    c.oddity = Oddity::UnusualFile;
    c.seed = 4;
    seeds.push_back(
        {d == R ? "device-file-target" : "device-file-source", InputBuilder().session(c).bytes()});
  }
  c = config(W, FW);
  c.repeat = true;
  seeds.push_back({"repeat-without-file", InputBuilder().session(c).bytes()});
  seeds.push_back({"write-longer-file",
                   InputBuilder().session(config(W, LIB, FileSize::FullPlus1000)).bytes()});
  seeds.push_back(
      {"write-empty-file", InputBuilder().session(config(W, USR, FileSize::Empty)).bytes()});
}

void addInterruptions(std::vector<NamedInput>& seeds) {
  // Stopped inside the third block of a read, then the same read repeated over the file.
  Action stop;
  stop.interference = Interference::Stop;
  SessionConfig again = config(R, FW, FileSize::Full);
  again.repeat = true;
  seeds.push_back({"stop-then-repeat", InputBuilder()
                                           .session(config(R, FW, FileSize::Full))
                                           .cleanBlocks(R, 2)
                                           .correct(2)
                                           .action(stop)
                                           .session(again)
                                           .bytes()});
  // A new session over a running write: the verification of the same file.
  Action restart;
  restart.interference = Interference::Restart;
  SessionConfig verify = config(V, LIB);
  verify.repeat = true;
  seeds.push_back({"restart-with-verify", InputBuilder()
                                              .session(config(W, LIB))
                                              .cleanBlocks(W, 1)
                                              .action(restart)
                                              .session(verify)
                                              .bytes()});
  // Every operation waits a few polls; some writes report short counts; stale step messages.
  InputBuilder slow;
  slow.session(config(W, FW, FileSize::Bytes300));
  for (int i = 0; i < 10; ++i) {
    // In a write session the even operations are the PC's writes.
    Action a = act(i % 4 == 2 ? Mode::Short : Mode::Correct, 1);
    a.pendingPolls = i % 2 == 0 ? 3 : 1;
    a.stalePost = i % 4 == 1;
    slow.action(a);
  }
  seeds.push_back({"pending-and-stale", slow.bytes()});
}

}  // namespace

std::vector<NamedInput> seedInputs() {
  std::vector<NamedInput> seeds;
  addCleanSessions(seeds);
  addDeviceFaults(seeds);
  addVerifications(seeds);
  addOperatorPaths(seeds);
  addInterruptions(seeds);
  return seeds;
}

}  // namespace morva::fuzz
