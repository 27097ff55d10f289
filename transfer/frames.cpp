#include "transfer/frames.h"

namespace morva {

std::uint8_t sumMod256(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum & 0xFFu);
}

std::uint8_t checksumFor(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint8_t>((256u - sumMod256(bytes)) & 0xFFu);
}

std::array<std::uint8_t, blockCommandSize> buildBlockCommand(Direction direction,
                                                             std::uint16_t block) {
  std::array<std::uint8_t, blockCommandSize> command{
      direction == Direction::WriteToDevice ? WRITE_BLOCK : READ_BLOCK,
      static_cast<std::uint8_t>(block & 0xFFu), static_cast<std::uint8_t>(block >> 8), 0};
  command[3] = checksumFor(std::span(command).first(3));
  return command;
}

std::uint8_t sealDataFrame(std::span<std::uint8_t, dataFrameSize> frame) {
  frame[blockSize] = checksumFor(frame.first(blockSize));
  return frame[blockSize];
}

}  // namespace morva
