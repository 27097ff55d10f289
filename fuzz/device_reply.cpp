#include "fuzz/device_reply.h"

#include <random>

namespace morva::fuzz {

namespace {

using testing::Operation;
using testing::Reply;

Bytes correctAnswer(std::size_t size, std::span<const std::uint8_t, blockSize> memory) {
  if (size == identificationSize) return {2, 5, 1, 10, 0xEE, ACK};
  if (size == 1) return {ACK};
  if (size != dataFrameSize) return {};
  Bytes frame(memory.begin(), memory.end());
  frame.push_back(checksumFor(frame));
  return frame;
}

// A changed byte whose checksum is made right again: the identification's versions or a data
// byte change; a one-byte answer becomes another byte.
void flipResealed(Bytes& answer, const Action& a, std::uint8_t bits) {
  if (answer.size() == identificationSize) {
    answer[a.arg1 % 4] ^= bits;
    answer[4] = checksumFor(std::span(answer).first(4));
  } else if (answer.size() == dataFrameSize) {
    answer[a.arg1] ^= bits;
    answer[blockSize] = checksumFor(std::span(answer).first(blockSize));
  } else if (answer.size() == 1) {
    answer[0] ^= bits;
  }
}

Bytes readAnswer(std::size_t size, const Action& a,
                 std::span<const std::uint8_t, blockSize> memory) {
  Bytes answer = correctAnswer(size, memory);
  const auto bits = static_cast<std::uint8_t>(a.arg2 == 0 ? 1 : a.arg2);
  switch (a.mode) {
    case Mode::FlipResealed:
      flipResealed(answer, a, bits);
      break;
    case Mode::Flip:
      if (!answer.empty()) answer[a.arg1 % answer.size()] ^= bits;
      break;
    case Mode::Short:
      if (!answer.empty()) answer.resize(a.arg1 % answer.size());
      break;
    case Mode::Nak:
      if (size == identificationSize)
        answer[5] = NAK;
      else
        answer = {NAK};
      break;
    case Mode::Noise:
      answer = generated(size, a.arg1);
      break;
    case Mode::Silent:
      answer.clear();
      break;
    default:
      break;
  }
  return answer;
}

}  // namespace

Reply deviceReply(const Operation& operation, const Action& a,
                  std::span<const std::uint8_t, blockSize> memory) {
  Reply r;
  r.pendingPolls = a.pendingPolls;
  if (a.mode == Mode::PollFails || a.mode == Mode::StartFails) {
    r.fails = a.mode == Mode::PollFails;
    r.startFails = a.mode == Mode::StartFails;
    r.error = a.arg1 + 1;
    return r;
  }
  if (operation.isRead) {
    r.data = readAnswer(operation.size, a, memory);
    if (a.mode == Mode::Twice) r.unasked = r.data;
  } else if (a.mode == Mode::FlipResealed || a.mode == Mode::Flip || a.mode == Mode::Short) {
    // The engine does not look at a write's count; a short one must not matter.
    r.writeCount = a.arg1 % operation.size;
  } else if (a.mode == Mode::Silent) {
    r.writeCount = 0;
  }
  return r;
}

Bytes generated(std::size_t size, std::uint32_t seed) {
  Bytes b(size);
  std::minstd_rand generator(seed + 1);
  for (auto& byte : b) byte = static_cast<std::uint8_t>(generator() >> 8);
  return b;
}

}  // namespace morva::fuzz
