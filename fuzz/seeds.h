// Inputs that encode real sessions: a clean write, read and verify of every kind, and the
// classic faults of a device and an operator. They seed the fuzzer's corpus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morva::fuzz {

struct NamedInput {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

std::vector<NamedInput> seedInputs();

}  // namespace morva::fuzz
