#include "app/step_pump.h"

namespace morva {

std::optional<int> StepPump::idle(int transferStep, bool modalOpen) {
  if (transferStep == 0 || modalOpen || posted_ || waiting_) return std::nullopt;
  posted_ = true;
  return transferStep;
}

bool StepPump::deliver(bool modalOpen) {
  posted_ = false;
  return !modalOpen;
}

}  // namespace morva
