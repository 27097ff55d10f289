// Starting a session with real files: every refusal in its order, and what a start leaves.
#include <gtest/gtest.h>

#include "tests/support/engine_rig.h"
#include "tests/support/short_names.h"
#include "transfer/wording.h"

namespace morva::testing {
namespace {

namespace fs = std::filesystem;
using namespace short_names;

enum class OnDisk { Nothing, File, ReadOnlyFile, Directory };

struct StartRow {
  const char* name;
  Direction direction;
  DataKind kind;
  const char* chosen;  // null: the chooser is cancelled; with `repeat`, the remembered name
  bool extensionDifferent;
  OnDisk onDisk;
  int result;
  bool asked;                         // the overwrite question
  std::optional<FailureKind> failed;  // then what the start recorded and showed
  bool repeat = false;
  std::deque<Answer> answers = {};
  bool wakeUpFails = false;
};

TEST(StartSession, RefusalsInTheirOrder) {
  using enum FailureKind;
  const auto F = OnDisk::File, N = OnDisk::Nothing, D = OnDisk::Directory;
  constexpr bool asked = true;
  const std::nullopt_t none = std::nullopt;
  const std::deque<Answer> yes{Answer::Yes};
  // clang-format off
  const StartRow rows[] = {
      {"cancelled", W, FW, nullptr, false, N, -1, !asked, none},
      {"direction", Direction(3), FW, "x.upg", false, F, -2, !asked, none},
      {"kind", W, DataKind(-1), "x.upg", false, F, -2, !asked, none},
      {"bin for firmware", W, FW, "x.bin", true, F, -1, !asked, ExtensionChanged},
      {"txt for user data", V, USR, "x.txt", true, F, -1, !asked, ExtensionChanged},
      {"BiN for user data", W, USR, "x.BiN", true, F, 0, !asked, none},
      {"repeat skips the rule", V, LIB, "x.bin", true, F, 0, !asked, none, true},
      {"missing to send", W, LIB, "x.lib", false, N, -3, !asked, FileMissing},
      {"missing to verify", V, FW, "x.upg", false, N, -3, !asked, FileMissing},
      {"overwrite declined", R, FW, "x.upg", false, F, -3, asked, none},
      {"read-only", R, FW, "x.upg", false, OnDisk::ReadOnlyFile, -1, asked, WriteAccessDenied,
       false, yes},
      {"read into a directory", R, USR, "d.usr", false, D, -1, asked, FileOpen, false, yes},
      {"send a directory", W, FW, "d.upg", false, D, -1, !asked, FileOpen},
      {"WakeUp refused", W, FW, "x.upg", false, F, -1, !asked, Communication, false, {}, true},
      {"repeat with no name, send", W, FW, "", false, N, -3, !asked, FileMissing, true},
      {"repeat with no name, read", R, FW, "", false, N, -1, !asked, FileOpen, true},
  };
  // clang-format on
  for (const StartRow& row : rows) {
    SCOPED_TRACE(row.name);
    EngineRig<> r;
    const std::string path = row.chosen && *row.chosen ? (r.dir.path() / row.chosen).string() : "";
    const Bytes old = pattern(10);
    if (row.onDisk == OnDisk::Directory) fs::create_directory(path);
    if (row.onDisk == OnDisk::File || row.onDisk == OnDisk::ReadOnlyFile)
      r.dir.file(row.chosen, &old);
    if (row.onDisk == OnDisk::ReadOnlyFile)
      fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    r.state.direction = row.direction;
    r.state.dataKind = row.kind;
    r.state.transferStep = TransferStep::AwaitDataAnswer;  // an abandoned session
    if (row.repeat)
      r.state.fileName = path;
    else if (row.chosen)
      r.op.fileChoices.push_back(FileChoice{path, row.extensionDifferent});
    r.op.answers = row.answers;
    if (row.wakeUpFails) r.port.script.push_back(refusedStart(5));
    // The results keep the system's numbers, which the command line tells apart.
    const FileSource source = row.repeat ? FileSource::LastFile : FileSource::Chooser;
    EXPECT_EQ(static_cast<int>(startSession(r.state, r.link, r.op, source)), row.result);
    EXPECT_EQ(r.state.transferStep,
              row.result == 0 ? TransferStep::AwaitWakeUpSent : TransferStep::Idle);
    std::vector<Message> shown;
    if (row.asked) shown.push_back(overwriteQuestion(path));
    EXPECT_EQ(r.state.failure.has_value(), row.failed.has_value());
    if (row.failed && r.state.failure) {
      EXPECT_EQ(r.state.failure->kind, *row.failed);
      EXPECT_EQ(r.state.failure->step, TransferStep::Idle);
      if (*row.failed == Communication) {
        EXPECT_EQ(r.state.failure->error.number, 5);
      } else {
        EXPECT_EQ(r.state.failure->path, path);
      }
      shown.push_back(failureMessage(*r.state.failure));
    }
    EXPECT_EQ(r.op.messages, shown);
    EXPECT_EQ(r.op.fileRequests.size(), row.repeat || row.result == -2 ? 0u : 1u);
    if (row.chosen && row.result != -2) {
      EXPECT_EQ(r.state.fileName, path);  // kept even when refused
    }
    if (row.onDisk == OnDisk::File || row.onDisk == OnDisk::ReadOnlyFile) {
      EXPECT_EQ(readFile(path), old);  // nothing is emptied at the start
    }
  }
}

TEST(StartSession, NoPortIsTheOnlyComplaint) {
  EngineRig<> r;
  r.state.transferStep = TransferStep::AwaitCommandAnswer;
  r.port.close();
  EXPECT_EQ(startSession(r.state, r.link, r.op), StartResult::Failed);
  ASSERT_TRUE(r.state.failure);
  EXPECT_EQ(r.state.failure->kind, FailureKind::NoPort);
  EXPECT_EQ(r.op.messages, std::vector<Message>{failureMessage(*r.state.failure)});
  EXPECT_TRUE(r.op.fileRequests.empty());
  EXPECT_EQ(r.state.transferStep, TransferStep::Idle);
}

TEST(StartSession, AStartFixesTheRangeAsksTheChooserAndSendsTheWakeUp) {
  struct Kind {
    DataKind kind;
    std::uint16_t first, count;
    std::vector<std::string> filter;  // description, pattern, default extension
  };
  const Kind kinds[] = {{FW, 0, 512, {"FirmWare upgrade (*.upg)", "*.upg", "upg"}},
                        {LIB, 512, 384, {"Fixture libraries (*.lib)", "*.lib", "lib"}},
                        {USR, 896, 3200, {"User data (*.usr)", "*.usr;*.bin", "usr"}}};
  const std::pair<Direction, std::string> titles[] = {{W, "Choose file with data :"},
                                                      {R, "Choose file to write into :"},
                                                      {V, "Choose file for veryfication :"}};
  for (const auto& [d, title] : titles) {
    for (const Kind& k : kinds) {
      EngineRig<> r;
      const Bytes data = pattern(300);
      const std::string path = d == R ? r.dir.file("new") : r.dir.file("in", &data);
      r.state.fileName = "previous";
      r.state.direction = d;
      r.state.dataKind = k.kind;
      r.op.fileChoices.push_back(FileChoice{path, false});
      ASSERT_EQ(startSession(r.state, r.link, r.op), StartResult::Started);
      const FileRequest& a = r.op.fileRequests.at(0);
      EXPECT_EQ(
          (std::vector<std::string>{a.filterDescription, a.filterPattern, a.defaultExtension}),
          k.filter);
      EXPECT_EQ(a.title, title);
      EXPECT_EQ(a.initialName, "previous");
      EXPECT_EQ(std::pair(a.mustExist, a.createPrompt), std::pair(d != R, d == R));
      EXPECT_EQ(std::tuple(r.state.currentBlock, r.state.firstBlock, r.state.blocksLeft),
                std::tuple(k.first, k.first, k.count));
      EXPECT_EQ(std::pair(r.state.sessionKind, r.state.outcome),
                std::pair(k.kind, SessionOutcome::Running));
      EXPECT_EQ(r.port.writes(), std::vector<Bytes>{{ESC}});
      EXPECT_EQ(r.op.invalidations,
                (std::vector<Invalidation>{{Area::Window, true}, {Area::Window, true}}));
      EXPECT_EQ(std::pair(r.state.sourceFile.isOpen(), r.state.targetFile.isOpen()),
                std::pair(d != R, d == R));
      EXPECT_TRUE(fs::exists(path));
    }
  }
}

// The lock on a data file is its session's: a read stopped with its target still open leaves
// the file free for the next session to send.
TEST(StartSession, AFileLeftOpenByAStoppedSessionIsFreeForTheNext) {
  EngineRig<> r;
  const Bytes data = pattern(600);
  const std::string path = r.dir.file("x.upg", &data);
  for (const Direction d : {R, W}) {
    r.state.direction = d;
    r.op.fileChoices.push_back(FileChoice{path, false});
    r.op.answers = {Answer::Yes};
    ASSERT_EQ(startSession(r.state, r.link, r.op), StartResult::Started) << r.op.shown().back();
    stopSession(r.state, r.link, r.op);
  }
  EXPECT_TRUE(r.state.targetFile.isOpen() && r.state.sourceFile.isOpen());
}

}  // namespace
}  // namespace morva::testing
