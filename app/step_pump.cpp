#include "app/step_pump.h"

namespace morva {

std::optional<TransferStep> StepPump::idle(TransferStep transferStep, bool modalOpen) {
  if (!sessionRunning(transferStep) || modalOpen || posted_ || waiting_) return std::nullopt;
  posted_ = true;
  return transferStep;
}

bool StepPump::deliver(bool modalOpen) {
  posted_ = false;
  return !modalOpen;
}

}  // namespace morva
