// The scripted device's answer to one read or write the engine starts, shaped by an action of
// the fuzz input: the correct frame, or one of the ways a device or a line gets it wrong.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/input_format.h"
#include "tests/support/fake_serial_port.h"
#include "transfer/frames.h"

namespace morva::fuzz {

using Bytes = std::vector<std::uint8_t>;

// `memory` is the device's block for a data frame read; the identification is that of a
// device with versions 2.05 and 1.10.
testing::Reply deviceReply(const testing::Operation& operation, const Action& action,
                           std::span<const std::uint8_t, blockSize> memory);

// Bytes from a small generator: file contents and line noise.
Bytes generated(std::size_t size, std::uint32_t seed);

}  // namespace morva::fuzz
