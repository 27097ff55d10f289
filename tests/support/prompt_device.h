// A Vk350 behind a scripted port whose deadline is just ahead while an operation is
// outstanding, so that a loop waiting on the port looks again at once, as on a real port whose
// answer is due.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fake_serial_port.h"
#include "transfer/frames.h"

namespace morva::testing {

class PromptPort : public FakeSerialPort {
 public:
  WaitHint waitHint() const override {
    return hasOutstanding() ? WaitHint{-1, Clock::now() + std::chrono::milliseconds(1)}
                            : WaitHint{};
  }
};

// On the ports in devicesOn the device answers its identification and an ACK for every
// command and data frame (but the frame refuseFrame counts, once), each answer pending for
// `pendingPolls` polls first; elsewhere every read ends empty.
struct PromptDevice {
  PromptPort port;
  std::set<std::string> devicesOn;
  int pendingPolls = 1;
  std::optional<std::size_t> refuseFrame;
  std::vector<std::vector<std::uint8_t>> dataFrames;  // what the device stored, in order

  PromptDevice() {
    port.device = [this](const Operation& op) {
      if (!op.isRead) {
        if (op.size == dataFrameSize) dataFrames.push_back(op.written);
        return Reply::written(pendingPolls);
      }
      if (devicesOn.count(port.name()) == 0) return Reply::bytes({});
      if (op.size == identificationSize) return Reply::bytes(deviceIdentification, pendingPolls);
      if (refuseFrame && dataFrames.size() == *refuseFrame) {
        refuseFrame.reset();
        return Reply::bytes({NAK}, pendingPolls);
      }
      return Reply::bytes({ACK}, pendingPolls);
    };
  }
  PromptDevice(const PromptDevice&) = delete;
  PromptDevice& operator=(const PromptDevice&) = delete;
};

}  // namespace morva::testing
