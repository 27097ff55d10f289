// The step machine against a scripted port: one row of the state tables per case. The rows
// name the steps by their numbers, as the state tables do.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/engine_rig.h"
#include "tests/support/short_names.h"
#include "transfer/wording.h"

namespace morva::testing {
namespace {

using namespace short_names;
const Invalidation SL{Area::StatusLine, true}, BL{Area::BlockLine, true}, WIN{Area::Window, true};

// An unreadable source is a file the OS fails to read: /proc/self/mem at offset 0.
enum class Files { Normal, ShortSource, UnreadableSource, TargetFull };
using Op = std::pair<bool, std::size_t>;  // is a read, size
const Op write4{false, 4}, read1{true, 1}, read6{true, 6}, frameIn{true, 257}, frameOut{false, 257};

// What each polling step waits for: the operation the step before it started.
Op polledBy(int step) {
  switch (step) {
    case 1:
      return {false, 1};
    case 2:
      return read6;
    case 4:
      return write4;
    case 6:
      return frameOut;
    case 8:
      return frameIn;
    default:
      return read1;  // steps 5 and 7
  }
}

const Bytes fileData = pattern(512);
Reply answer(std::uint8_t b) {
  return Reply::bytes({b});
}
Reply frame(Bytes data) {
  return Reply::bytes(frameOf(std::move(data)));
}
Bytes firstBlock(std::size_t n = blockSize) {
  return Bytes(fileData.begin(), fileData.begin() + n);
}

// What a row expects the step to record: a failure of `kind` (its step is the row's), or a
// verification's question (`asked`).
struct Expected {
  FailureKind kind = FailureKind::PortError;
  AnswerFault answer = AnswerFault::None;
  std::size_t count = 0;
  std::uint8_t byte = 0;
  int errorNumber = 0;
  bool asked = false;
};
using enum FailureKind;
Expected noData(FailureKind k, std::size_t n) {
  return {k, AnswerFault::NoData, n};
}
Expected nak(FailureKind k) {
  return {k, AnswerFault::Nak};
}
Expected illegal(FailureKind k, std::uint8_t b) {
  return {k, AnswerFault::IllegalByte, 0, b};
}
Expected checksum(FailureKind k, std::uint8_t residue) {
  return {k, AnswerFault::Checksum, 0, residue};
}
Expected portError(int number) {
  return {PortError, AnswerFault::None, 0, 0, number};
}
const Expected question{.asked = true};

struct Row {
  const char* name;
  Direction direction;
  int step;
  std::optional<Reply> reply;  // the outcome of what the step polls
  int next;
  std::optional<Expected> shown = {};
  std::string open = "ST";  // the files open afterwards: Source, Target
  std::vector<Invalidation> invalidated = {SL};
  std::optional<Op> started = std::nullopt;
  Files files = Files::Normal;
  std::uint16_t blocksLeft = 5;
  Bytes unasked = {};  // on the line before the step, asked for by nobody
};

struct StepRig : EngineRig<> {
  explicit StepRig(const Row& row) {
    state.direction = row.direction;
    state.transferStep = static_cast<TransferStep>(row.step);
    state.blocksLeft = row.blocksLeft;
    Bytes shortData = firstBlock(100);
    const std::string source = row.files == Files::UnreadableSource ? std::string("/proc/self/mem")
                               : row.files == Files::ShortSource    ? dir.file("s", &shortData)
                                                                    : dir.file("s", &fileData);
    state.sourceFile.open(files, source, DataFile::Mode::Input);
    state.targetFile.open(files, row.files == Files::TargetFull ? "/dev/full" : dir.file("t"),
                          DataFile::Mode::Output);
    const Op polled = polledBy(row.step);
    if (row.reply) outstanding(polled.first, polled.second, *row.reply);
    port.unasked.assign(row.unasked.begin(), row.unasked.end());
  }
};

// The failure the session recorded, as a row states it; and the one box it showed for it.
void expectShown(const EngineRig<>& s, const std::optional<Expected>& expected, int step) {
  if (!expected || expected->asked) {
    EXPECT_FALSE(s.state.failure);
    EXPECT_EQ(s.op.messages.size(), expected ? 1u : 0u);
    return;
  }
  ASSERT_TRUE(s.state.failure);
  const Failure& f = *s.state.failure;
  EXPECT_EQ(f.kind, expected->kind);
  EXPECT_EQ(stepNumber(f.step), step);
  EXPECT_EQ(f.answer, expected->answer);
  EXPECT_EQ(f.count, expected->count);
  EXPECT_EQ(f.byte, expected->byte);
  EXPECT_EQ(f.error.number, expected->errorNumber);
  ASSERT_EQ(s.op.messages.size(), 1u);
  EXPECT_EQ(s.op.messages[0], failureMessage(f));
}

void expectRow(const Row& row) {
  SCOPED_TRACE(row.name);
  StepRig s(row);
  const std::size_t before = s.port.operations.size();
  EXPECT_EQ(s.step(), StepResult::Advanced);
  EXPECT_EQ(stepNumber(s.state.transferStep), row.next);
  expectShown(s, row.shown, row.step);
  EXPECT_EQ(std::string(s.state.sourceFile.isOpen() ? "S" : "") +
                (s.state.targetFile.isOpen() ? "T" : ""),
            row.open);
  EXPECT_EQ(s.op.invalidations, row.invalidated);
  std::optional<Op> started;
  if (s.port.operations.size() > before)
    started = Op{s.port.operations.back().isRead, s.port.operations.back().size};
  EXPECT_EQ(started, row.started);
}

TEST(Steps, EveryRowOfTheStateTables) {
  const Bytes ident{2, 5, 1, 10, 0xEE, ACK};
  auto identWith = [&](std::size_t at, std::uint8_t b, std::size_t n = 6) {
    Bytes r = ident;
    r[at] = b;
    r.resize(n);
    return Reply::bytes(r);
  };
  Bytes mismatch = firstBlock();
  mismatch[0] ^= 1;
  Bytes badSum = frameOf(firstBlock());
  badSum[256] += 0x10;
  constexpr FailureKind init = Initialization, ackErr = Acknowledgment, sendErr = Transmission;
  // clang-format off
  const Row rows[] = {
      {"1 written", V, 1, Reply::written(), 2, {}, "ST", {SL}, read6},
      {"2 accepted", W, 2, Reply::bytes(ident), 3, {}, "ST", {WIN, SL}},
      {"2 checksum 1", R, 2, identWith(4, 0xEF), 0, checksum(init, 1), "S"},
      {"2 checksum ff", W, 2, identWith(4, 0xED), 0, checksum(init, 0xff), "T"},
      {"2 illegal", V, 2, identWith(5, 0x05), 0, illegal(init, 5), "T"},
      {"2 illegal a0", W, 2, identWith(5, 0xA0), 0, illegal(init, 0xa0), "T"},
      {"2 short", R, 2, identWith(5, ACK, 4), 0, noData(init, 4), "S"},
      {"2 NAK first", W, 2, Reply::bytes({2, 5, 1, 10, 0xEF, NAK}), 0, nak(init), "T"},
      {"3 write", W, 3, {}, 4, {}, "ST", {SL}, write4},
      {"3 verify", V, 3, {}, 4, {}, "ST", {SL}, write4},
      {"3 unasked", R, 3, {}, 0, illegal(ackErr, ACK), "S", {SL}, {}, Files::Normal, 5,
       {ACK, ACK}},
      {"4 written", R, 4, Reply::written(), 5, {}, "ST", {SL}, read1},
      {"5 ack write", W, 5, answer(ACK), 6, {}, "ST", {SL}, frameOut},
      {"5 ack, unasked", W, 5, answer(ACK), 0, illegal(sendErr, 0x41), "T", {SL}, {},
       Files::Normal, 5, {0x41}},
      {"5 ack read", R, 5, answer(ACK), 8, {}, "ST", {SL}, frameIn},
      {"5 ack verify", V, 5, answer(ACK), 8, {}, "ST", {SL}, frameIn},
      {"5 unreadable", W, 5, answer(ACK), 0, Expected{FileRead, AnswerFault::None, 0, 0, EIO}, "T", {SL}, {},
       Files::UnreadableSource},
      {"5 NAK", R, 5, answer(NAK), 0, nak(ackErr), "S"},
      {"5 illegal", W, 5, answer(0x41), 0, illegal(ackErr, 0x41), "T"},
      {"5 silent", V, 5, Reply::bytes({}), 0, noData(ackErr, 0), "T"},
      {"6 written", W, 6, Reply::written(), 7, {}, "ST", {SL}, read1},
      {"7 ack", W, 7, answer(ACK), 9},
      {"7 NAK", W, 7, answer(NAK), 0, nak(sendErr), "T"},
      {"7 illegal", W, 7, answer(0x41), 0, illegal(sendErr, 0x41), "T"},
      {"7 silent", W, 7, Reply::bytes({}), 0, noData(sendErr, 0), "T"},
      {"8 short", R, 8, Reply::bytes(pattern(200)), 0, noData(sendErr, 200), "S"},
      {"8 bad sum", V, 8, Reply::bytes(badSum), 0, checksum(sendErr, 0x10), "T"},
      {"8 stored", R, 8, frame(firstBlock()), 9},
      {"8 unwritable", R, 8, frame(firstBlock()), 0, Expected{FileWrite, AnswerFault::None, 0, 0, ENOSPC}, "S", {SL}, {},
       Files::TargetFull},
      {"8 unreadable", V, 8, frame(firstBlock()), 0, Expected{FileRead, AnswerFault::None, 0, 0, EIO}, "ST", {SL}, {},
       Files::UnreadableSource},
      {"8 same", V, 8, frame(firstBlock()), 9},
      {"8 file ended", V, 8, frame(firstBlock(100)), 8, {}, "ST", {SL}, read1, Files::ShortSource},
      {"8 declined", V, 8, frame(mismatch), 0, question, "T"},
      {"9 write done", W, 9, {}, 9, {}, "ST", {BL, SL}, read1, Files::Normal, 1},
      {"9 read done", R, 9, {}, 9, {}, "ST", {BL, SL}, read1, Files::Normal, 1},
      {"9 verify done", V, 9, {}, 9, {}, "ST", {BL, SL}, read1, Files::Normal, 1},
      {"9 more", R, 9, {}, 3, {}, "ST", {BL, SL}, {}, Files::Normal, 2},
  };
  // clang-format on
  for (const Row& row : rows) expectRow(row);
}

// After the last answer the step that found the end waits one gap on the line: quiet, the
// session completes; a byte then, and the last answer is not to be trusted.
TEST(Steps, ASessionWithAllItsAnswersEndsOnceTheLineStaysQuiet) {
  for (Direction d : {W, R, V}) {
    for (const Bytes& unasked : {Bytes{}, Bytes{ACK}}) {
      StepRig s({"done", d, 9, {}, 9, {}, "ST", {}, {}, Files::Normal, 1});
      ASSERT_EQ(s.step(), StepResult::Advanced);
      s.port.unasked.assign(unasked.begin(), unasked.end());
      s.op.clear();
      EXPECT_EQ(s.step(), StepResult::Advanced);
      EXPECT_EQ(s.state.transferStep, TransferStep::Idle);
      ASSERT_FALSE(s.port.operations.empty());
      EXPECT_EQ(s.port.operations.back().gap, true);
      const bool quiet = unasked.empty();
      EXPECT_EQ(s.state.outcome, quiet ? SessionOutcome::Completed : SessionOutcome::Failed);
      expectShown(s, quiet ? std::nullopt : std::optional(illegal(Transmission, ACK)), 9);
      EXPECT_EQ(s.link.lineQuiet, quiet);
      // The lines of the last block, painted during the wait, go with the session.
      EXPECT_EQ(s.op.invalidations.front(), (Invalidation{Area::BlockLine, true}));
      // The direction's file is closed, but a verification's after a clean end.
      const bool kept = d == V && quiet;
      EXPECT_EQ(std::pair(s.state.sourceFile.isOpen(), s.state.targetFile.isOpen()),
                std::pair(d == R || kept, d != R));
    }
  }
}

// Which file a poll failure closes, per step and direction; and a pending poll changes nothing.
TEST(Steps, PendingAndFailedPolls) {
  for (Direction d : {W, R, V}) {
    for (int step : {1, 2, 4, 5, 6, 7, 8}) {
      if (step >= 6 && (step < 8) != (d == W)) continue;
      const bool closes = step != 2 && step != 7;
      expectRow({"failed", d, step, Reply::failure(5), 0, portError(5),
                 !closes  ? "ST"
                 : d == R ? "S"
                          : "T"});
      StepRig s({"pending", d, step, Reply::written(2), step});
      for (int i = 0; i < 2; ++i) EXPECT_EQ(s.step(), StepResult::Waiting);
      EXPECT_EQ(stepNumber(s.state.transferStep), step);
      EXPECT_TRUE(s.op.invalidations.empty() && s.op.messages.empty());
      EXPECT_EQ(s.port.operations.size(), 1u);
    }
  }
}

// A read or write the port refuses to start fails the step that polls it, even when the port
// has forgotten about it (here: purged).
TEST(Steps, FailedStartsFailTheNextStep) {
  for (Direction d : {W, R, V}) {
    for (int step : {1, 3, 4, 5, 6}) {
      if (step == 6 && d != W) continue;
      StepRig s({"start fails", d, step, step == 3 ? std::nullopt : std::optional(answer(ACK)), 0});
      s.port.script.push_back(refusedStart(7));
      s.step();
      ASSERT_EQ(stepNumber(s.state.transferStep), step == 5 && d != W ? 8 : step + 1);
      s.port.purge();
      EXPECT_EQ(s.step(), StepResult::Advanced);
      expectShown(s, portError(7), step == 5 && d != W ? 8 : step + 1);
    }
  }
}

TEST(Steps, StaleOrOutOfRangeStepsAreDropped) {
  StepRig s({"stale", R, 4, Reply::written(), 4});
  for (int step : {0, 3, 5, 10, -1})
    EXPECT_EQ(performTransferStep(static_cast<TransferStep>(step), s.state, s.link, s.op),
              StepResult::Ignored);
  EXPECT_EQ(s.state.transferStep, TransferStep::AwaitCommandSent);
  EXPECT_TRUE(s.op.invalidations.empty());
  EXPECT_TRUE(s.port.hasOutstanding());
}

TEST(Steps, VerificationAsksAtEveryDifferenceUntilDeclined) {
  StepRig s({"verify", V, 8, {}, 0});
  s.state.firstBlock = s.state.currentBlock = 896;
  Bytes device = firstBlock(), file = firstBlock();
  device[5] = 255;
  file[5] = 17;
  device[9] ^= 1;
  device[200] ^= 1;
  s.state.sourceFile.open(s.files, s.dir.file("v", &file), DataFile::Mode::Input);
  s.outstanding(true, dataFrameSize, frame(device));
  s.op.answers = {Answer::Yes, Answer::Yes, Answer::No};
  s.step();
  ASSERT_EQ(s.op.messages.size(), 3u);
  EXPECT_EQ(s.op.messages[0].text, "Veryfication error : block 897 pos. 5\n17, 255\nContinue ?");
  EXPECT_TRUE(s.op.messages[0].secondIsDefault);
  EXPECT_EQ(s.op.messages[0].icon, Icon::Question);
  EXPECT_EQ(s.state.differences, 2u);
  EXPECT_EQ(s.state.outcome, SessionOutcome::Declined);
  EXPECT_FALSE(s.state.sourceFile.isOpen());
}

}  // namespace
}  // namespace morva::testing
