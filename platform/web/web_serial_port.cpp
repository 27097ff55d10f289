#include "platform/web/web_serial_port.h"

#include <algorithm>
#include <utility>

namespace morva {
namespace {

OsError error(int number, std::string text, FailureCause cause = FailureCause::Other) {
  return OsError{number, std::move(text), cause};
}

OsError notOpen() {
  return error(webError::notOpen, "no port is open");
}

}  // namespace

WebSerialPort::WebSerialPort(LineFactory lines, TimeSource now)
    : PortSkeleton({notOpen(), error(webError::busy, "another operation is under way"),
                    error(webError::invalid, "nothing is under way")},
                   std::move(now)),
      lines_(std::move(lines)) {}

WebSerialPort::~WebSerialPort() {
  close();
}

bool WebSerialPort::open(const std::string& name) {
  close();
  std::unique_ptr<SerialLine> line = lines_(name);
  if (line == nullptr)
    return fail(error(webError::notFound, "the page has no such port", FailureCause::NotFound));
  if (auto refused = line->open()) return fail(std::move(*refused));
  line_ = std::move(line);
  return true;
}

bool WebSerialPort::configure(const Timeouts& timeouts) {
  if (line_ == nullptr) return fail(notOpen());
  timing().configure(timeouts);
  return true;
}

void WebSerialPort::close() {
  forgetOperation();
  input_.clear();
  if (line_ == nullptr) return;
  line_->close();
  line_.reset();
}

bool WebSerialPort::purge() {
  forgetOperation();
  input_.clear();
  if (line_ == nullptr) return fail(notOpen());
  line_->discard();
  return true;
}

bool WebSerialPort::transmitPriority(std::uint8_t byte) {
  if (line_ == nullptr) return fail(notOpen());
  if (auto gone = line_->failure()) return fail(std::move(*gone));
  const std::uint8_t one[1] = {byte};
  line_->write(one);
  return true;
}

bool WebSerialPort::startReading(std::span<std::uint8_t> buffer, PortTiming::Kind kind) {
  if (!beginOperation(kind, buffer.size())) return false;
  readInto_ = buffer;
  return true;
}

bool WebSerialPort::startRead(std::span<std::uint8_t> buffer) {
  return startReading(buffer, PortTiming::Kind::Read);
}

bool WebSerialPort::startGapRead(std::span<std::uint8_t> buffer) {
  return startReading(buffer, PortTiming::Kind::GapRead);
}

bool WebSerialPort::startWrite(std::span<const std::uint8_t> bytes) {
  // A line that is gone refuses the write before anything else is asked.
  if (line_ != nullptr)
    if (auto gone = line_->failure()) return refuseStart(std::move(*gone));
  if (!beginOperation(PortTiming::Kind::Write, bytes.size())) return false;
  line_->write(bytes);
  return true;
}

std::size_t WebSerialPort::takeUnasked(std::span<std::uint8_t> buffer) {
  if (line_ == nullptr || timing().outstanding()) return 0;
  line_->take(input_);
  std::size_t n = 0;
  while (n < buffer.size() && !input_.empty()) {
    std::vector<std::uint8_t>& front = input_.front().bytes;
    const std::size_t k = std::min(buffer.size() - n, front.size());
    std::copy_n(front.begin(), k, buffer.begin() + static_cast<std::ptrdiff_t>(n));
    front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(k));
    if (front.empty()) input_.pop_front();
    n += k;
  }
  return n;
}

PollResult WebSerialPort::pollOutstanding() {
  if (auto gone = line_->failure()) return PollResult::failed(std::move(*gone));
  return timing().reading() ? pollRead() : pollWrite();
}

// Every byte that arrived while the read was still open belongs to it, however late the poll;
// the first that came after its time-out stays for whatever is asked next.
PollResult WebSerialPort::pollRead() {
  line_->take(input_);
  while (!input_.empty() && timing().accepts(input_.front().at)) {
    Arrival& front = input_.front();
    const std::size_t k = std::min(timing().wanted(), front.bytes.size());
    std::copy_n(front.bytes.begin(), k,
                readInto_.begin() + static_cast<std::ptrdiff_t>(timing().done()));
    front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<std::ptrdiff_t>(k));
    timing().arrived(k, front.at);
    if (front.bytes.empty()) input_.pop_front();
  }
  if (timing().over(now())) return PollResult::completed(timing().done());
  return PollResult::pending();
}

// A write is done once the browser has taken it and, on a real line, its bytes' time on the
// wire has passed: a USB adapter reports a write as taken long before its chip has sent it,
// time the device's answer window would otherwise lose. A write the browser never takes ends
// with nothing written, as a port whose write time-out expired.
PollResult WebSerialPort::pollWrite() {
  const Clock::time_point t = now();
  if (!line_->writing() && t >= leftTheWire()) return PollResult::completed(timing().size());
  if (timing().over(t)) return PollResult::completed(line_->writing() ? 0 : timing().size());
  return PollResult::pending();
}

Clock::time_point WebSerialPort::leftTheWire() const {
  return timing().started() + line_->byteTime() * static_cast<std::int64_t>(timing().size());
}

WaitHint WebSerialPort::outstandingHint() const {
  Clock::time_point deadline = std::min(timing().nextDeadline(), line_->nextArrival());
  if (!timing().reading() && !line_->writing()) deadline = std::min(deadline, leftTheWire());
  // What is already due is due now, not at some moment the page has left behind.
  return WaitHint{0, std::max(deadline, now())};
}

void WebSerialPort::waitOutstanding(Clock::time_point limit) {
  line_->waitForNews(limit);
}

}  // namespace morva
