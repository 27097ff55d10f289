// A session on a scripted port and a recording operator, with real files in a private folder.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/fake_serial_port.h"
#include "tests/support/recording_operator.h"
#include "transfer/engine.h"
#include "transfer/frames.h"

namespace morva::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes pattern(std::size_t size, unsigned seed = 1) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed + i / 256);
  return b;
}

inline Bytes frameOf(Bytes data) {
  data.resize(blockSize);
  data.push_back(checksumFor(data));
  return data;
}

// A read or write the port refuses to start.
inline Reply refusedStart(int error) {
  Reply r;
  r.startFails = true;
  r.error = error;
  return r;
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    path = std::filesystem::temp_directory_path() /
           ("morva-engine-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string file(const std::string& name, const Bytes* content = nullptr) const {
    const auto p = path / name;
    if (content != nullptr)
      std::ofstream(p, std::ios::binary)
          .write(reinterpret_cast<const char*>(content->data()),
                 static_cast<std::streamsize>(content->size()));
    return p.string();
  }
};

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Rig {
  SessionState state;
  LinkPort link;
  FakeSerialPort port;
  RecordingOperator op;
  TempDir dir;

  Rig() {
    port.open("/dev/ttyFAKE0");
    link.port = &port;
  }
  StepResult step() { return performTransferStep(state.transferStep, state, link, op); }
  // Runs steps until the session ends; the number of steps taken.
  int run(int limit = 200000) {
    int n = 0;
    while (state.transferStep != 0 && n < limit) step(), ++n;
    return n;
  }
  // Leaves an operation outstanding, as the step before `step` would have.
  void outstanding(bool isRead, std::size_t size, Reply reply) {
    port.script.push_back(std::move(reply));
    if (isRead)
      port.startRead(std::span(link.ioBuffer).first(size));
    else
      port.startWrite(std::span(link.ioBuffer).first(size));
  }
};

}  // namespace morva::testing
