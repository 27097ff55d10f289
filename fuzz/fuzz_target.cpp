// The libFuzzer entry: every input plays its sessions against the engine; a broken invariant
// is reported and ends the run as a crash, so that libFuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz/session_harness.h"
#include "tests/support/files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One folder for the whole run, removed when the fuzzer exits normally.
  static const morva::testing::ScratchDir workDir;
  const morva::fuzz::RunReport report = morva::fuzz::runInput({data, size}, workDir.path());
  for (const auto& v : report.violations) std::fprintf(stderr, "invariant broken: %s\n", v.c_str());
  if (!report.violations.empty()) __builtin_trap();
  return 0;
}
