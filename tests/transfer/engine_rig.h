// A session on a scripted port and a recording operator, with real files in a private folder.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/file_service.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/files.h"
#include "tests/support/recording_operator.h"
#include "transfer/engine.h"
#include "transfer/frames.h"

namespace morva::testing {

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

struct Rig {
  SessionState state;
  LinkPort link;
  FakeSerialPort port;
  PosixFileService files;
  RecordingOperator op;
  ScratchDir dir;

  Rig() {
    port.open("/dev/ttyFAKE0");
    link.port = &port;
    state.files = &files;
  }
  StepResult step() { return performTransferStep(state.transferStep, state, link, op); }
  // Runs steps until the session ends; the number of steps taken.
  int run(int limit = 200000) {
    int n = 0;
    while (state.transferStep != TransferStep::Idle && n < limit) step(), ++n;
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
