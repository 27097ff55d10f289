// The fuzz corpus and a few hand-made deep sessions, replayed through the fuzz harness with
// every invariant checked after every step.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "fuzz/input_format.h"
#include "fuzz/seeds.h"
#include "fuzz/session_harness.h"
#include "tests/support/files.h"

namespace morva::fuzz {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path corpus = MORVA_FUZZ_CORPUS;

using morva::testing::readFile;

class Replay : public ::testing::Test {
 protected:
  RunReport run(const Bytes& input) { return runInput(input, dir.path()); }
  morva::testing::ScratchDir dir;
};

TEST_F(Replay, EveryCorpusFileKeepsTheInvariants) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_THAT(run(readFile(entry.path())).violations, IsEmpty());
    ++files;
  }
  EXPECT_GE(files, static_cast<int>(seedInputs().size()));
}

// The committed corpus is what the generator makes: a change of the input encoding that
// would turn the seeds into other sessions shows here.
TEST_F(Replay, TheCorpusHoldsTheCurrentSeeds) {
  for (const NamedInput& seed : seedInputs()) {
    SCOPED_TRACE(seed.name);
    EXPECT_EQ(readFile(corpus / seed.name), seed.bytes);
  }
}

// Each seed reaches the state its name promises.
TEST_F(Replay, SeedsReachTheirStates) {
  using O = SessionOutcome;
  struct Expected {
    std::size_t session;
    int startResult;
    O outcome;
    unsigned blocksDone;
    std::string lastMessageEnd;  // empty: no message at all
  };
  const std::map<std::string, Expected> expected{
      {"clean-write-firmware", {0, 0, O::Completed, 8, ""}},
      {"clean-write-libraries", {0, 0, O::Completed, 384, ""}},
      {"clean-write-user", {0, 0, O::Completed, 2, ""}},
      {"clean-read-firmware", {0, 0, O::Completed, 512, ""}},
      {"clean-read-libraries", {0, 0, O::Completed, 384, ""}},
      {"clean-read-user", {0, 0, O::Failed, 8, "Fail: Acknowledgment error : no data : 0"}},
      {"clean-verify-firmware", {0, 0, O::Completed, 512, ""}},
      {"clean-verify-libraries", {0, 0, O::Completed, 2, ""}},
      {"clean-verify-user", {0, 0, O::Completed, 7, ""}},
      {"silent-device", {0, 0, O::Failed, 0, "Fail: Initialization error : no data : 0"}},
      {"identification-nak", {0, 0, O::Failed, 0, "Fail: Initialization error : got NAK"}},
      {"identification-checksum", {0, 0, O::Failed, 0, "Initialization error : checksum : 1"}},
      {"identification-short", {0, 0, O::Failed, 0, "Initialization error : no data : 4"}},
      {"identification-odd-versions", {0, 0, O::Completed, 2, ""}},
      {"command-nak", {0, 0, O::Failed, 0, "Fail: Acknowledgment error : got NAK"}},
      {"command-illegal-answer", {0, 0, O::Failed, 0, "Acknowledgment error : illegal ACK : 41"}},
      {"frame-answer-silent", {0, 0, O::Failed, 0, "Fail: Transmission error : no data : 0"}},
      {"frame-short", {0, 0, O::Failed, 0, "Fail: Transmission error : no data : 200"}},
      {"frame-checksum", {0, 0, O::Failed, 0, "Fail: Transmission error : checksum : 10"}},
      {"write-start-fails", {0, -1, O::Failed, 0, "Fail: Communication error : 5"}},
      {"read-start-fails", {0, 0, O::Failed, 0, "Fail: Error code : 5"}},
      {"poll-fails-write-op5", {0, 0, O::Failed, 0, "Fail: Error code : 5"}},
      {"poll-fails-read-frame", {0, 0, O::Failed, 0, "Fail: Error code : 5"}},
      {"verify-differences-yes", {0, 0, O::Completed, 7, "\nContinue ?"}},
      {"verify-differences-no", {0, 0, O::Declined, 2, "\nContinue ?"}},
      {"verify-resealed-difference", {0, 0, O::Completed, 2, "\nContinue ?"}},
      {"verify-empty-file", {0, 0, O::Completed, 0, ""}},
      {"overwrite-declined", {0, -3, O::Declined, 0, "Do you want overwrite the file ?"}},
      {"target-read-only", {0, -1, O::Failed, 0, " :\nWrite access denied !"}},
      {"chooser-cancelled", {0, -1, O::Failed, 0, ""}},
      {"extension-changed", {0, -1, O::Failed, 0, "Warning: Don't change file extension !"}},
      {"user-data-bin", {0, 0, O::Completed, 2, ""}},
      {"source-missing", {0, -3, O::Failed, 0, " doesn't exist !"}},
      {"no-port", {0, -1, O::Failed, 0, "Warning: You must choose available serial port !"}},
      {"directory-chosen", {0, -1, O::Failed, 0, "Fail: File open error !"}},
      {"direction-out-of-range", {0, -2, O::Failed, 0, ""}},
      {"device-file-target", {0, 0, O::Failed, 0, "Fail: File write error !"}},
      {"device-file-source", {0, 0, O::Failed, 0, "Fail: File read error !"}},
      {"repeat-without-file", {0, -3, O::Failed, 0, "Warning: File  doesn't exist !"}},
      {"write-longer-file", {0, 0, O::Completed, 384, ""}},
      {"write-empty-file", {0, 0, O::Completed, 1, ""}},
      {"stop-then-repeat", {1, 0, O::Completed, 512, "Do you want overwrite the file ?"}},
      {"restart-with-verify", {1, 0, O::Completed, 7, ""}},
      {"pending-and-stale", {0, 0, O::Completed, 2, ""}},
  };
  for (const NamedInput& seed : seedInputs()) {
    const auto it = expected.find(seed.name);
    if (it == expected.end()) continue;
    SCOPED_TRACE(seed.name);
    const Expected& e = it->second;
    const RunReport report = run(seed.bytes);
    EXPECT_THAT(report.violations, IsEmpty());
    ASSERT_GT(report.sessions.size(), e.session);
    const SessionRecord& s = report.sessions[e.session];
    EXPECT_EQ(s.startResult, e.startResult);
    EXPECT_EQ(s.outcome, e.outcome);
    EXPECT_EQ(s.blocksDone, e.blocksDone);
    if (e.lastMessageEnd.empty())
      EXPECT_THAT(report.messages, IsEmpty());
    else
      EXPECT_THAT(report.messages.empty() ? "" : report.messages.back(),
                  EndsWith(e.lastMessageEnd));
  }
}

SessionConfig configFor(Direction d, DataKind k, FileSize size) {
  SessionConfig c;
  c.direction = d;
  c.kind = k;
  c.size = size;
  c.content = Content::Pattern;
  return c;
}

// File bytes follow i * 7 + i / 256; the device changes one byte a block by 0x5A, at position
// 31 times the block's index. Block 1, position 31 is file byte 287 = 218 and device byte 128.
TEST_F(Replay, AVerifyGoesOnThroughDifferencesAnsweredYes) {
  SessionConfig c = configFor(Direction::Verify, DataKind::FixtureLibraries, FileSize::Bytes512);
  c.deviceDiffers = true;
  const RunReport report = run(InputBuilder().session(c).bytes());
  EXPECT_THAT(report.violations, IsEmpty());
  EXPECT_THAT(report.messages,
              ElementsAre("Warning: Veryfication error : block 513 pos. 0\n0, 90\nContinue ?",
                          "Warning: Veryfication error : block 514 pos. 31\n218, 128\nContinue ?",
                          "Warning: Veryfication error : block 515 pos. 62\n0, 90\nContinue ?"));
  ASSERT_EQ(report.sessions.size(), 1u);
  EXPECT_EQ(report.sessions[0].differencesAccepted, 3u);
  // The third block is the one in which the file ended: compared, but not counted.
  EXPECT_EQ(report.sessions[0].blocksDone, 2u);
  EXPECT_EQ(report.sessions[0].outcome, SessionOutcome::Completed);
}

// The largest range runs to block 4095, where the counters reach their highest values.
TEST_F(Replay, AReadOfTheUserDataRunsToItsLastBlock) {
  const RunReport report =
      run(InputBuilder()
              .session(configFor(Direction::ReadFromDevice, DataKind::UserData, FileSize::Full))
              .bytes());
  EXPECT_THAT(report.violations, IsEmpty());
  EXPECT_THAT(report.messages, IsEmpty());
  ASSERT_EQ(report.sessions.size(), 1u);
  EXPECT_TRUE(report.sessions[0].identified);
  EXPECT_EQ(report.sessions[0].blocksDone, 3200u);
  EXPECT_EQ(report.sessions[0].outcome, SessionOutcome::Completed);
}

// A read stopped after its second block, then a verify of the same file (Repeat): the file
// holds the two blocks the device sent, so the verify ends at their end without a question.
TEST_F(Replay, AVerifyOfAStoppedReadComparesTheBlocksItKept) {
  Action stop;
  stop.interference = Interference::Stop;
  SessionConfig verify = configFor(Direction::Verify, DataKind::FirmwareUpgrade, FileSize::Full);
  verify.repeat = true;
  const Bytes input =
      InputBuilder()
          .session(configFor(Direction::ReadFromDevice, DataKind::FirmwareUpgrade, FileSize::Full))
          .cleanBlocks(Direction::ReadFromDevice, 2)
          .correct(1)
          .action(stop)
          .session(verify)
          .bytes();
  const RunReport report = run(input);
  EXPECT_THAT(report.violations, IsEmpty());
  ASSERT_EQ(report.sessions.size(), 2u);
  EXPECT_EQ(report.sessions[0].outcome, SessionOutcome::Stopped);
  EXPECT_EQ(report.sessions[0].blocksDone, 2u);
  EXPECT_EQ(report.sessions[1].outcome, SessionOutcome::Completed);
  EXPECT_EQ(report.sessions[1].blocksDone, 2u);
}

// An answer sent twice leaves its copy waiting, asked for by nobody: found before the next
// command, before the frame or after the last answer, it ends the session there.
TEST_F(Replay, AnAnswerSentTwiceNeverLetsASessionComplete) {
  Action twice;
  twice.mode = Mode::Twice;
  struct Row {
    Direction direction;
    int cleanBlocks, correct;  // what goes right before the answer sent twice
    const char* message;
  };
  constexpr auto W = Direction::WriteToDevice;
  const Row rows[] = {
      {W, 0, 1, "Fail: Transmission error : illegal ACK :  6"},
      {W, 0, 3, "Fail: Acknowledgment error : illegal ACK :  6"},
      {W, 1, 3, "Fail: Transmission error : illegal ACK :  6"},
      {Direction::ReadFromDevice, 383, 2, "Fail: Transmission error : illegal ACK : "}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.cleanBlocks << " blocks, " << row.correct);
    const RunReport report =
        run(InputBuilder()
                .session(configFor(row.direction, DataKind::FixtureLibraries, FileSize::Bytes300))
                .cleanBlocks(row.direction, row.cleanBlocks)
                .correct(row.correct)
                .action(twice)
                .bytes());
    EXPECT_THAT(report.violations, IsEmpty());
    ASSERT_EQ(report.sessions.size(), 1u);
    EXPECT_EQ(report.sessions[0].outcome, SessionOutcome::Failed);
    EXPECT_THAT(report.messages, ElementsAre(::testing::StartsWith(row.message)));
  }
}

}  // namespace
}  // namespace morva::fuzz
