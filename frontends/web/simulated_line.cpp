#include "frontends/web/simulated_line.h"

#include <algorithm>

namespace morva::web {

SimulatedDevice::SimulatedDevice(sim::DeviceSettings settings)
    : device_(memory_, faults_, trace_, settings) {}

SimulatedLine::SimulatedLine(SimulatedDevice& device, TimeSource now, SleepUntil sleepUntil)
    : device_(device), now_(std::move(now)), sleepUntil_(std::move(sleepUntil)) {}

std::optional<OsError> SimulatedLine::open() {
  lastByte_ = now_();
  return std::nullopt;
}

void SimulatedLine::close() {
  pending_.clear();
}

void SimulatedLine::write(std::span<const std::uint8_t> bytes) {
  if (failure_) return;
  const Clock::time_point now = now_();
  giveUpAfterSilence(now);
  for (const std::uint8_t byte : bytes) schedule(device_.device().receive(byte), now);
  lastByte_ = now;
}

// Each answer leaves after the one before it, its own delay later; a pause inside an answer
// parts it in two. A held answer has no one here to release it, so it goes on at once.
void SimulatedLine::schedule(const std::vector<sim::Delivery>& answers, Clock::time_point after) {
  for (const sim::Delivery& answer : answers) {
    after += answer.delay;
    const bool split =
        answer.hold || (answer.pause.count() > 0 && answer.pauseAt < answer.bytes.size());
    const std::size_t first =
        split ? std::min(answer.pauseAt, answer.bytes.size()) : answer.bytes.size();
    const auto begin = answer.bytes.begin();
    if (first > 0) pending_.push_back({{begin, begin + static_cast<std::ptrdiff_t>(first)}, after});
    if (split) {
      if (!answer.hold) after += answer.pause;
      if (first < answer.bytes.size())
        pending_.push_back(
            {{begin + static_cast<std::ptrdiff_t>(first), answer.bytes.end()}, after});
    }
    if (answer.vanish) vanishAt_ = after;
  }
}

// A frame left half-sent for longer than the device's patience is given up, as the device
// thread of the desktop's simulator does while it waits on its line.
void SimulatedLine::giveUpAfterSilence(Clock::time_point now) {
  const auto patience = device_.device().patience();
  if (patience && now - lastByte_ >= *patience)
    schedule(device_.device().silence(), lastByte_ + *patience);
}

void SimulatedLine::take(std::deque<Arrival>& into) {
  const Clock::time_point now = now_();
  giveUpAfterSilence(now);
  while (!pending_.empty() && pending_.front().at <= now) {
    into.push_back(std::move(pending_.front()));
    pending_.pop_front();
  }
  if (vanishAt_ && *vanishAt_ <= now && !failure_)
    failure_ = OsError{5, "the simulated device was switched off", FailureCause::Vanished};
}

Clock::time_point SimulatedLine::nextArrival() const {
  Clock::time_point next = pending_.empty() ? Clock::time_point::max() : pending_.front().at;
  if (vanishAt_ && !failure_) next = std::min(next, *vanishAt_);
  // A device that holds half a frame answers, if at all, once its patience has run out.
  if (const auto patience = device_.device().patience())
    next = std::min(next, lastByte_ + *patience);
  return next;
}

void SimulatedLine::waitForNews(Clock::time_point until) {
  const Clock::time_point when = std::min(until, nextArrival());
  if (when > now_()) sleepUntil_(when);
}

}  // namespace morva::web
