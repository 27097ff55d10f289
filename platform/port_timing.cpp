#include "platform/port_timing.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace morva {

PortTiming::PortTiming(TimeSource now) : now_(std::move(now)) {}

bool PortTiming::begin(Kind kind, std::size_t size, const OsError& busy) {
  if (op_) {
    op_.reset();  // both are abandoned
    refuse(busy);
    return false;
  }
  refusal_.reset();  // an unreported refused start is overtaken by this one
  Operation op;
  op.kind = kind;
  op.size = size;
  op.started = now_();
  // A gap read asks only whether something comes within one pause of the line.
  const auto total = timeouts_.perByte * static_cast<std::int64_t>(size);
  op.deadline = op.started + (kind == Kind::GapRead ? timeouts_.interval : total);
  op_ = op;
  return true;
}

void PortTiming::refuse(OsError error) {
  op_.reset();
  refusal_ = std::move(error);
}

std::optional<OsError> PortTiming::takeRefusal() {
  return std::exchange(refusal_, std::nullopt);
}

void PortTiming::clear() {
  op_.reset();
  refusal_.reset();
}

bool PortTiming::accepts(Clock::time_point at) const {
  if (!reading() || op_->done >= op_->size || at >= op_->deadline) return false;
  return !op_->lastByte || at - *op_->lastByte < timeouts_.interval;
}

void PortTiming::arrived(std::size_t count, Clock::time_point at) {
  if (!op_ || count == 0) return;
  op_->done = std::min(op_->size, op_->done + count);
  op_->lastByte = at;
}

void PortTiming::wrote(std::size_t count) {
  if (op_) op_->done = std::min(op_->size, op_->done + count);
}

bool PortTiming::over(Clock::time_point at) const {
  if (!op_) return true;
  if (at >= op_->deadline) return true;
  if (op_->kind == Kind::Write) return false;
  if (op_->done == op_->size) return true;
  return op_->lastByte && at - *op_->lastByte >= timeouts_.interval;
}

Clock::time_point PortTiming::nextDeadline() const {
  if (refusal_) return now_();
  if (!op_) return Clock::time_point::max();
  if (op_->kind == Kind::Write || !op_->lastByte) return op_->deadline;
  return std::min(op_->deadline, *op_->lastByte + timeouts_.interval);
}

}  // namespace morva
