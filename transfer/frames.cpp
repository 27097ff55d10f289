#include "transfer/frames.h"

#include <cstdio>

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

std::string answerDetail(std::size_t bytesRead, std::uint8_t byte0) {
  if (bytesRead != 1) return "no data : " + std::to_string(bytesRead);
  if (byte0 == NAK) return "got NAK";
  return illegalAckDetail(byte0);
}

std::string illegalAckDetail(std::uint8_t byte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%2x", static_cast<unsigned>(byte));
  return std::string("illegal ACK : ") + hex;
}

std::string checksumDetail(std::uint8_t residue) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(residue));
  return std::string("checksum : ") + hex;
}

}  // namespace morva
