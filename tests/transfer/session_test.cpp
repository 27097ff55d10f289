// Whole sessions against a device model that keeps a memory image and answers every frame.
#include <gtest/gtest.h>

#include "tests/support/engine_rig.h"
#include "tests/support/short_names.h"
#include "transfer/kinds.h"

namespace morva::testing {
namespace {

using namespace short_names;

struct Device {
  Bytes memory = pattern(4096 * blockSize, 3);
  bool identifies = true;
  std::vector<int> commands;  // block numbers, in the order asked for
  std::deque<Bytes> answers;
  std::optional<int> awaitingData;

  Reply operator()(const Operation& op) {
    // Every operation stays pending for one poll, as a real port's would.
    if (op.isRead) {
      return Reply::bytes(nextOf(answers), 1);
    }
    const Bytes& w = op.written;
    if (w == Bytes{ESC}) {
      if (identifies) answers.push_back({2, 5, 1, 10, 0xEE, ACK});
    } else if (w.size() == blockCommandSize && sumMod256(w) == 0) {
      const int block = w[1] | w[2] << 8;
      commands.push_back(block);
      answers.push_back({ACK});
      if (w[0] == WRITE_BLOCK)
        awaitingData = block;
      else
        answers.push_back(frameOf(blockAt(block)));
    } else if (w.size() == dataFrameSize && awaitingData && sumMod256(w) == 0) {
      std::copy_n(w.begin(), blockSize, memory.begin() + *awaitingData * blockSize);
      answers.push_back({ACK});
      awaitingData.reset();
    } else {
      answers.push_back({NAK});
    }
    return Reply::written(1);
  }
  Bytes blockAt(int block, int count = 1) const {
    const auto from = memory.begin() + block * blockSize;
    return Bytes(from, from + count * blockSize);
  }
};

struct SessionRig : EngineRig<> {
  Device device;
  SessionRig(Direction d, DataKind k, const std::string& file) {
    port.device = [this](const Operation& op) { return device(op); };
    state.direction = d;
    state.dataKind = k;
    op.fileChoices.push_back(FileChoice{file, false});
    op.answers = {Answer::Yes};
  }
};

TEST(Session, EveryKindAndDirectionAndFileLength) {
  struct Case {
    DataKind kind;
    Direction direction;
    std::size_t fileSize;  // ignored for a read
  };
  std::vector<Case> cases;
  for (DataKind k : {FW, LIB, USR})
    for (Direction d : {W, R, V}) cases.push_back({k, d, kindInfo(k)->blockCount * blockSize});
  for (Direction d : {W, V})
    for (std::size_t size : {300, 512, 0, 98304 + 1000}) cases.push_back({LIB, d, size});

  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << int(c.kind) << "/" << int(c.direction) << "/" << c.fileSize);
    const KindInfo& kind = *kindInfo(c.kind);
    const Bytes content = pattern(c.fileSize, 9);
    ScratchDir dir;
    const std::string path = c.direction == R ? dir.file("image") : dir.file("image", &content);
    SessionRig s(c.direction, c.kind, path);
    // A file that ends inside the range ends the session with the block that met its end.
    const int blocks = c.direction == R || c.fileSize >= kind.blockCount * blockSize
                           ? kind.blockCount
                           : static_cast<int>(c.fileSize / blockSize + 1);
    Bytes image = content;
    image.resize(blocks * blockSize);
    if (c.direction == R) image = s.device.blockAt(kind.firstBlock, blocks);
    if (c.direction == V)
      std::copy(image.begin(), image.end(), s.device.memory.begin() + kind.firstBlock * blockSize);

    ASSERT_EQ(startSession(s.state, s.link, s.op), StartResult::Started);
    ASSERT_TRUE(s.runToEnd());
    EXPECT_TRUE(s.op.messages.empty()) << s.op.shown().at(0);
    EXPECT_EQ(s.state.outcome, SessionOutcome::Completed);
    EXPECT_EQ(s.state.differences, 0u);
    EXPECT_EQ(s.port.overlappingStarts, 0);
    ASSERT_EQ(s.device.commands.size(), static_cast<std::size_t>(blocks));
    EXPECT_EQ(s.device.commands.front(), kind.firstBlock);
    EXPECT_EQ(s.device.commands.back(), kind.firstBlock + blocks - 1);
    EXPECT_EQ(s.state.firmwareVersionText + " | " + s.state.secondVersionText, "2.05 | 1.10");
    // What reached the file, or the device: the image, zero-padded after the file's end.
    EXPECT_EQ(c.direction == R ? readFile(path) : s.device.blockAt(kind.firstBlock, blocks), image);
    EXPECT_EQ(s.state.sourceFile.isOpen(), c.direction == V);
    EXPECT_FALSE(s.state.targetFile.isOpen());
  }
}

// An existing file chosen to read into keeps its content until the device has identified
// itself; from then on it holds exactly the blocks received, each on disk once received.
TEST(Session, ReadTargetIsEmptiedOnlyOnceTheDeviceAnswers) {
  ScratchDir dir;
  const Bytes old = pattern(5000, 4);
  {
    SessionRig silent(R, FW, dir.file("image", &old));
    silent.device.identifies = false;
    ASSERT_EQ(startSession(silent.state, silent.link, silent.op), StartResult::Started);
    ASSERT_TRUE(silent.runToEnd());
    EXPECT_EQ(silent.state.failure, (Failure{.kind = FailureKind::Initialization,
                                             .step = TransferStep::AwaitIdentification,
                                             .answer = AnswerFault::NoData,
                                             .count = 0}));
    EXPECT_EQ(readFile(dir.file("image")), old);
  }
  SessionRig s(R, FW, dir.file("image"));
  ASSERT_EQ(startSession(s.state, s.link, s.op), StartResult::Started);
  while (s.state.transferStep != TransferStep::SendCommand) s.step();
  EXPECT_TRUE(readFile(dir.file("image")).empty());
  while (s.device.commands.size() < 4 || s.state.transferStep != TransferStep::SendCommand)
    s.step();
  s.state.transferStep = TransferStep::Idle;  // stopped by the operator, the file left open
  EXPECT_EQ(readFile(dir.file("image")), s.device.blockAt(0, 3 + 1));
  EXPECT_TRUE(s.state.targetFile.isOpen());
}

// The path no longer names the file held open: nothing is emptied, and nothing is read into a
// file nobody can reach.
TEST(Session, ReadTargetRemovedBeforeItIsEmptiedFails) {
  ScratchDir dir;
  const Bytes old = pattern(10);
  SessionRig s(R, USR, dir.file("image", &old));
  ASSERT_EQ(startSession(s.state, s.link, s.op), StartResult::Started);
  std::filesystem::remove(dir.file("image"));
  ASSERT_TRUE(s.runToEnd());
  ASSERT_TRUE(s.state.failure);
  EXPECT_EQ(s.state.failure->kind, FailureKind::FileWrite);
  EXPECT_EQ(s.state.failure->step, TransferStep::AwaitIdentification);
  EXPECT_EQ(s.state.failure->path, dir.file("image"));
  EXPECT_EQ(s.state.outcome, SessionOutcome::Failed);
  EXPECT_TRUE(s.device.commands.empty());
  EXPECT_FALSE(s.state.targetFile.isOpen());
}

// A device node has no content to empty: reading into it is an ordinary session.
TEST(Session, ReadIntoADeviceNode) {
  SessionRig s(R, LIB, "/dev/null");
  ASSERT_EQ(startSession(s.state, s.link, s.op), StartResult::Started);
  ASSERT_TRUE(s.runToEnd());
  EXPECT_EQ(s.state.outcome, SessionOutcome::Completed);
  EXPECT_EQ(s.device.commands.size(), 384u);
}

}  // namespace
}  // namespace morva::testing
