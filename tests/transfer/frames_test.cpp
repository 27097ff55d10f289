#include <gtest/gtest.h>

#include "tests/support/engine_rig.h"

namespace morva::testing {
namespace {

TEST(Frames, BlockCommandsCarryTheAbsoluteBlockAndAZeroSum) {
  struct Case {
    Direction direction;
    std::uint16_t block;
    std::array<std::uint8_t, 4> wire;
  };
  for (const Case& c : {Case{Direction::ReadFromDevice, 0, {0x12, 0x00, 0x00, 0xEE}},
                        Case{Direction::WriteToDevice, 896, {0x11, 0x80, 0x03, 0x6C}},
                        Case{Direction::Verify, 4095, {0x12, 0xFF, 0x0F, 0xE0}},
                        Case{Direction::WriteToDevice, 512, {0x11, 0x00, 0x02, 0xED}}}) {
    EXPECT_EQ(buildBlockCommand(c.direction, c.block), c.wire) << c.block;
    EXPECT_EQ(sumMod256(c.wire), 0);
  }
}

TEST(Frames, ChecksumsOfIdentificationAndDataFrames) {
  const Bytes identification{0x02, 0x05, 0x01, 0x0A};
  EXPECT_EQ(checksumFor(identification), 0xEE);
  std::array<std::uint8_t, dataFrameSize> frame{};
  EXPECT_EQ(sealDataFrame(frame), 0x00);
  for (std::size_t i = 0; i < blockSize; ++i) frame[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(sealDataFrame(frame), 0x80);
  EXPECT_EQ(frame[blockSize], 0x80);
  EXPECT_EQ(sumMod256(frame), 0);
}

TEST(Frames, VersionTexts) {
  const std::vector<std::tuple<unsigned, unsigned, std::string>> cases{
      {0, 0, "0.00"},   {9, 99, "9.99"}, {2, 5, "2.05"},
      {9, 100, "9.??"}, {10, 5, "?.??"}, {255, 255, "?.??"}};
  for (const auto& [major, minor, text] : cases) EXPECT_EQ(formatVersionText(major, minor), text);
}

TEST(Kinds, ExtensionRuleLooksAtTheFileNameOnly) {
  EXPECT_FALSE(extensionDiffers("/a/b/image.UPG", "upg"));
  EXPECT_TRUE(extensionDiffers("/a/b.upg/image", "upg"));
  EXPECT_TRUE(extensionDiffers("/a/b/image.upg.bak", "upg"));
}

}  // namespace
}  // namespace morva::testing
