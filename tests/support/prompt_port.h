// The scripted port with a deadline just ahead while an operation is outstanding: a loop that
// waits on it looks again at once, as on a real port whose answer is due.
#pragma once

#include <chrono>

#include "tests/support/fake_serial_port.h"

namespace morva::testing {

class PromptPort : public FakeSerialPort {
 public:
  WaitHint waitHint() const override {
    return hasOutstanding() ? WaitHint{-1, Clock::now() + std::chrono::milliseconds(1)}
                            : WaitHint{};
  }
};

}  // namespace morva::testing
