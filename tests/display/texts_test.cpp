#include "display/texts.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace morva {
namespace {

TEST(DisplayTexts, ValuesOutsideTheTablesGiveEmptyText) {
  for (int bad : {-1, 3, 255, INT_MIN, INT_MAX}) {
    EXPECT_EQ(sessionLine(static_cast<Direction>(bad), DataKind::UserData), "") << bad;
    EXPECT_EQ(sessionLine(Direction::Verify, static_cast<DataKind>(bad)), "") << bad;
  }
  EXPECT_EQ(statusWord(static_cast<TransferStep>(10)), "");
  EXPECT_EQ(statusWord(static_cast<TransferStep>(INT_MAX)), "");
  EXPECT_EQ(statusLine(static_cast<TransferStep>(10)), "(10)");
  EXPECT_EQ(statusLine(static_cast<TransferStep>(-1)), "(-1)");
}

TEST(DisplayTexts, FirmwareLine) {
  EXPECT_EQ(firmwareLine("N/A", "N/A"), "Firmware version : N/A | N/A");
  EXPECT_EQ(firmwareLine("1234", "56"), "Firmware version : 1234 | 56");
  EXPECT_EQ(firmwareLine("", ""), "Firmware version :  | ");
}

TEST(DisplayTexts, SessionLine) {
  struct Case {
    Direction direction;
    DataKind kind;
    const char* expected;
  };
  const std::vector<Case> cases{
      {Direction::WriteToDevice, DataKind::FirmwareUpgrade, "Write to Vk350 : program"},
      {Direction::ReadFromDevice, DataKind::FixtureLibraries, "Read from Vk350 : libraries"},
      {Direction::Verify, DataKind::UserData, "Veryfication : user data"},
  };
  for (const Case& c : cases) EXPECT_EQ(sessionLine(c.direction, c.kind), c.expected);
}

TEST(DisplayTexts, BlockLine) {
  struct Case {
    std::uint16_t current, left, first;
    const char* expected;
  };
  const std::vector<Case> cases{
      {2, 510, 0, "Block 3 z 512"},
      // The start of a session of each kind: block ranges 0-511, 512-895, 896-4095.
      {0, 512, 0, "Block 1 z 512"},
      {512, 384, 512, "Block 1 z 384"},
      {896, 3200, 896, "Block 1 z 3200"},
      {4095, 1, 896, "Block 3200 z 3200"},
      // A file to send that ends early leaves one block to go: the total drops to this block.
      {700, 1, 512, "Block 189 z 189"},
      // Every block counted, the session waiting for a quiet line: the last block, not one past.
      {896, 0, 512, "Block 384 z 384"},
      {4096, 0, 896, "Block 3200 z 3200"},
      {0, 0, 0, "Block 0 z 0"},
      // Sums beyond 16 bits and a block before the range must not wrap around.
      {65535, 65535, 0, "Block 65536 z 131070"},
      {0, 1, 896, "Block -895 z -895"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(blockLine(c.current, c.left, c.first), c.expected)
        << c.current << " " << c.left << " " << c.first;
  }
}

TEST(DisplayTexts, StatusLine) {
  const std::vector<std::string> expected{"",           "Waiting . . .(1)", "Waiting . . .(2)",
                                          "Command(3)", "Waiting . . .(4)", "Waiting . . .(5)",
                                          "Sending(6)", "Waiting . . .(7)", "Receiving(8)",
                                          "(9)"};
  for (int step = 0; step < static_cast<int>(expected.size()); ++step) {
    EXPECT_EQ(statusLine(static_cast<TransferStep>(step)), expected[static_cast<std::size_t>(step)])
        << step;
  }
}

}  // namespace
}  // namespace morva
