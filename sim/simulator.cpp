#include "sim/simulator.h"

#include <pthread.h>
#include <sched.h>

#include <stdexcept>

namespace morva::sim {

using namespace std::chrono_literals;

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)),
      trace_(options_.trace),
      device_(memory_, faults_, trace_, {options_.identification, options_.answerLatency}),
      portPath_(line_.path()) {
  faults_.replace(options_.faults);
  if (!options_.memoryFile.empty()) {
    memoryFile_.emplace(options_.memoryFile);
    std::string why;
    if (!options_.startErased && !memoryFile_->loadInto(memory_, why))
      throw std::runtime_error(why);
  }
  trace_.event("device ready on " + portPath_ + (options_.paced ? ", paced at 38400 baud" : ""));
  thread_ = std::thread([this] { run(); });
}

Simulator::~Simulator() {
  stop();
}

bool HoldGate::hold() {
  std::unique_lock lock(mutex_);
  const unsigned mine = ++holds_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return stopped_ || releases_ >= mine; });
  return !stopped_;
}

bool HoldGate::awaitHold(std::chrono::milliseconds guard) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, guard, [&] { return stopped_ || holds_ > releases_; }) &&
         !stopped_;
}

void HoldGate::release() {
  std::lock_guard lock(mutex_);
  ++releases_;
  changed_.notify_all();
}

void HoldGate::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

unsigned HoldGate::holdsReached() const {
  std::lock_guard lock(mutex_);
  return holds_;
}

bool Simulator::stop(std::string* error) {
  if (thread_.joinable()) {
    line_.requestStop();
    gate_.stop();
    thread_.join();
  }
  if (saved_ || !memoryFile_) return true;
  saved_ = true;
  std::string why;
  if (memoryFile_->save(memory_, why)) return true;
  if (error) *error = why;
  return false;
}

// The device's life: wait for the PC's bytes, feed them to the protocol one by one, and carry
// out the answers it gives. With pacing, bytes that the pty hands over all at once are taken
// as arriving one byte-time apart, as they would from a real line.
void Simulator::run() {
  // The controller answers within its windows (120 ms a byte) whatever else the machine runs:
  // where the OS lets us, the device thread goes ahead of ordinary work. Where it does not,
  // the device runs as it is (a busy machine may then make it answer late).
  const sched_param urgent{1};
  (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &urgent);
  std::vector<std::uint8_t> incoming;
  SimClock::time_point lastArrival = SimClock::now();
  for (;;) {
    std::optional<SimClock::time_point> deadline;
    if (const auto patience = device_.patience()) deadline = lastArrival + *patience;
    incoming.clear();
    const auto outcome = line_.read(incoming, deadline);
    if (outcome == PtyLine::Outcome::Stopped || outcome == PtyLine::Outcome::Closed) return;
    if (outcome == PtyLine::Outcome::Timeout) {
      if (!deliverAll(device_.silence(), lastArrival)) return;
      continue;
    }
    const auto now = SimClock::now();
    for (const std::uint8_t byte : incoming) {
      lastArrival = options_.paced ? std::max(now, lastArrival + byteTime) : now;
      if (!deliverAll(device_.receive(byte), lastArrival)) return;
    }
  }
}

bool Simulator::deliverAll(const std::vector<Delivery>& answers, SimClock::time_point arrival) {
  SimClock::time_point after = arrival;
  for (const Delivery& answer : answers) {
    if (!deliver(answer, after)) return false;
  }
  return true;
}

// Sends one answer no earlier than `after` plus its delay; `after` becomes the moment it was
// out. False when the device must stop: asked to, or it has just vanished.
bool Simulator::deliver(const Delivery& answer, SimClock::time_point& after) {
  if (!line_.waitUntil(after + answer.delay)) return false;
  const std::span<const std::uint8_t> bytes(answer.bytes);
  const bool split = answer.hold ? answer.pauseAt <= bytes.size()
                                 : answer.pause > 0ms && answer.pauseAt < bytes.size();
  const auto first = bytes.first(split ? answer.pauseAt : bytes.size());
  if (!first.empty() || !split) trace_.frame(WireDirection::ToPc, first, answer.note);
  if (!line_.send(first, options_.paced)) return false;
  if (split) {
    if (!interrupt(answer)) return false;
    const auto rest = bytes.subspan(answer.pauseAt);
    trace_.frame(WireDirection::ToPc, rest,
                 answer.note + (answer.hold ? ", the rest once released"
                                            : ", the rest after " +
                                                  std::to_string(answer.pause.count()) + " ms"));
    if (!line_.send(rest, options_.paced)) return false;
  }
  if (answer.vanish) {
    trace_.event("the device has vanished: line closed");
    line_.drain(1000ms);
    line_.hangUp();
    vanished_ = true;
    return false;
  }
  after = SimClock::now();
  return true;
}

// The gap inside a split answer: a timed pause, or a hold until the owner releases it.
bool Simulator::interrupt(const Delivery& answer) {
  if (!answer.hold) return line_.waitUntil(SimClock::now() + answer.pause);
  const std::string what = answer.note + ": " + std::to_string(answer.pauseAt) + " of " +
                           std::to_string(answer.bytes.size()) + " bytes sent";
  trace_.event("answer held (" + what + ")");
  if (options_.onHold) options_.onHold(what);
  return gate_.hold() && !line_.stopRequested();
}

}  // namespace morva::sim
