// Everything that crosses the cable: control bytes, frame sizes, checksums.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "transfer/kinds.h"

namespace morva {

inline constexpr std::uint8_t ESC = 0x1B;  // WakeUp, and the device search's probe
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t WRITE_BLOCK = 0x11;
inline constexpr std::uint8_t READ_BLOCK = 0x12;

inline constexpr std::size_t blockSize = 256;
inline constexpr std::size_t identificationSize = 6;
inline constexpr std::size_t blockCommandSize = 4;
inline constexpr std::size_t dataFrameSize = blockSize + 1;

// Low 8 bits of the unsigned sum; a received run is valid when this is 0.
std::uint8_t sumMod256(std::span<const std::uint8_t> bytes);
// The byte that, appended to the run, makes its sum 0 modulo 256.
std::uint8_t checksumFor(std::span<const std::uint8_t> bytes);

std::array<std::uint8_t, blockCommandSize> buildBlockCommand(Direction direction,
                                                             std::uint16_t block);
// Puts the checksum of bytes 0..255 into byte 256 and returns it.
std::uint8_t sealDataFrame(std::span<std::uint8_t, dataFrameSize> frame);

}  // namespace morva
