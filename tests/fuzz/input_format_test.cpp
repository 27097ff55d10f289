// The fuzz input's encoding and the scripted device's replies: the seeds and the hand-made
// cases are built with the encoder, so it must say what the decoder reads.
#include "fuzz/input_format.h"

#include <gtest/gtest.h>

#include "fuzz/device_reply.h"

namespace morva::fuzz {
namespace {

using testing::Operation;

// Whatever bytes the fuzzer makes, the decoded configuration or action encodes back to
// bytes that decode to the same thing.
TEST(InputFormat, EveryDecodedConfigurationAndActionEncodesBackToItself) {
  const Bytes noise = generated(4 * 256, 7);
  for (int b0 = 0; b0 < 256; ++b0) {
    const Bytes bytes{static_cast<std::uint8_t>(b0), noise[4 * b0], noise[4 * b0 + 1],
                      noise[4 * b0 + 2]};
    Input in(bytes);
    const SessionConfig config = decodeConfig(in);
    const auto encoded = encodeConfig(config);
    Input again(encoded);
    EXPECT_EQ(decodeConfig(again), config) << "config byte " << b0;

    const Bytes actionBytes{static_cast<std::uint8_t>(b0), noise[4 * b0 + 3], 0x55, 0xAA};
    Input actionIn(actionBytes);
    const Action action = decodeAction(actionIn);
    const Bytes actionEncoded = encodeAction(action);
    Input actionAgain(actionEncoded);
    EXPECT_EQ(decodeAction(actionAgain), action) << "action byte " << b0;
    EXPECT_TRUE(actionAgain.exhausted()) << "action byte " << b0;
  }
}

TEST(InputFormat, AnExhaustedInputReadsAsACorrectAnswerWithoutWaiting) {
  Input empty(std::span<const std::uint8_t>{});
  EXPECT_EQ(decodeAction(empty), Action{});
  EXPECT_EQ(InputBuilder().cleanBlocks(Direction::WriteToDevice, 2).bytes().size(), 10u);
  EXPECT_EQ(InputBuilder().cleanBlocks(Direction::Verify, 2).bytes().size(), 8u);
}

// What the device sends for each mode: checked with the frame rules, not with the code's own
// arithmetic.
TEST(DeviceReply, EachModeShapesTheAnswerItNames) {
  std::array<std::uint8_t, blockSize> memory{};
  for (std::size_t i = 0; i < blockSize; ++i) memory[i] = static_cast<std::uint8_t>(i);
  const Operation identification{true, identificationSize, {}};
  const Operation frame{true, dataFrameSize, {}};
  const Operation answer{true, 1, {}};

  EXPECT_EQ(deviceReply(identification, act(Mode::Correct), memory).data,
            (Bytes{2, 5, 1, 10, 0xEE, ACK}));
  EXPECT_EQ(deviceReply(identification, act(Mode::Nak), memory).data,
            (Bytes{2, 5, 1, 10, 0xEE, NAK}));
  const Bytes resealed = deviceReply(identification, act(Mode::FlipResealed, 0, 8), memory).data;
  EXPECT_EQ(resealed[0], 10);
  EXPECT_EQ(sumMod256(std::span(resealed).first(5)), 0);

  const Bytes good = deviceReply(frame, act(Mode::Correct), memory).data;
  ASSERT_EQ(good.size(), dataFrameSize);
  EXPECT_EQ(good[blockSize], 0x80);  // the frame of bytes 0 to 255
  const Bytes changed = deviceReply(frame, act(Mode::FlipResealed, 7, 0xFF), memory).data;
  EXPECT_EQ(sumMod256(changed), 0);
  EXPECT_EQ(changed[7], 7 ^ 0xFF);
  EXPECT_NE(sumMod256(deviceReply(frame, act(Mode::Flip, 7, 0x10), memory).data), 0);
  EXPECT_EQ(deviceReply(frame, act(Mode::Short, 200), memory).data.size(), 200u);
  EXPECT_EQ(deviceReply(frame, act(Mode::Nak), memory).data, Bytes{NAK});

  EXPECT_EQ(deviceReply(answer, act(Mode::Correct), memory).data, Bytes{ACK});
  EXPECT_EQ(deviceReply(answer, act(Mode::FlipResealed, 0, 0x47), memory).data, Bytes{0x41});
  EXPECT_TRUE(deviceReply(answer, act(Mode::Silent), memory).data.empty());

  const auto failed = deviceReply(answer, act(Mode::PollFails, 4), memory);
  EXPECT_TRUE(failed.fails);
  EXPECT_EQ(failed.error, 5);
  EXPECT_TRUE(deviceReply(answer, act(Mode::StartFails, 4), memory).startFails);
  Action slow = act(Mode::Correct);
  slow.pendingPolls = 3;
  EXPECT_EQ(deviceReply(answer, slow, memory).pendingPolls, 3);
}

}  // namespace
}  // namespace morva::fuzz
