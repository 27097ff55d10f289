// The memory image and its file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/simulator.h"
#include "tests/sim/pty_client.h"
#include "tests/support/files.h"

namespace morva::sim {
namespace {

using namespace test;
using morva::testing::readFile;
using morva::testing::writeFile;

class MemoryFile : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return (dir_ / name).string(); }

  morva::testing::ScratchDir dir_;
};

TEST_F(MemoryFile, ShortImageFillsTheFrontAndTheRestStaysErased) {
  const Bytes image = joined(blockPattern(0), Bytes(44, 0x77));  // 300 bytes
  writeFile(path("short.bin"), image);
  MemoryImage memory;
  std::string error;
  ASSERT_TRUE(memory.load(path("short.bin"), error)) << error;
  const Bytes all = memory.snapshot();
  ASSERT_EQ(all.size(), MemoryImage::byteCount);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), all.begin()));
  EXPECT_TRUE(std::all_of(all.begin() + 300, all.end(), [](auto b) { return b == 0xFF; }));
}

TEST_F(MemoryFile, RefusesImagesItCannotHold) {
  writeFile(path("big.bin"), Bytes(MemoryImage::byteCount + 1, 0));
  MemoryImage memory;
  std::string error;
  EXPECT_FALSE(memory.load(path("big.bin"), error));
  EXPECT_NE(error.find("big.bin"), std::string::npos);
  EXPECT_FALSE(memory.load(path("missing.bin"), error));
  EXPECT_FALSE(memory.save((dir_ / "no-such-dir" / "x.bin").string(), error));
  EXPECT_THROW(Simulator(withMemoryFile(path("big.bin"))), std::runtime_error);
}

TEST_F(MemoryFile, SimulatorLoadsAtStartAndSavesWhatThePcWrote) {
  Bytes image(MemoryImage::byteCount, 0x00);
  const Bytes seven = blockPattern(7);
  std::copy(seven.begin(), seven.end(), image.begin() + 7 * 256);
  writeFile(path("device.bin"), image);
  {
    Simulator sim(withMemoryFile(path("device.bin")));
    PtyClient pc(sim.portPath());
    pc.send(readCommand(7));
    EXPECT_EQ(pc.receive(258), joined({0x06}, sealed(seven)));
    pc.send(writeCommand(9));
    ASSERT_EQ(pc.receive(1), Bytes{0x06});
    pc.send(sealed(blockPattern(9)));
    ASSERT_EQ(pc.receive(1), Bytes{0x06});
    std::string error;
    EXPECT_TRUE(sim.stop(&error)) << error;
  }
  const Bytes saved = readFile(path("device.bin"));
  ASSERT_EQ(saved.size(), MemoryImage::byteCount);
  const Bytes nine = blockPattern(9);
  EXPECT_TRUE(std::equal(nine.begin(), nine.end(), saved.begin() + 9 * 256));
  EXPECT_TRUE(std::equal(seven.begin(), seven.end(), saved.begin() + 7 * 256));
  EXPECT_EQ(saved[0], 0x00);
}

TEST_F(MemoryFile, MissingFileMeansErasedMemorySavedAtStop) {
  { Simulator sim(withMemoryFile(path("new.bin"))); }  // the destructor stops and saves
  const Bytes saved = readFile(path("new.bin"));
  ASSERT_EQ(saved.size(), MemoryImage::byteCount);
  EXPECT_TRUE(std::all_of(saved.begin(), saved.end(), [](auto b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace morva::sim
