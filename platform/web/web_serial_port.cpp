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
    : lines_(std::move(lines)), timing_(std::move(now)) {}

WebSerialPort::~WebSerialPort() {
  close();
}

bool WebSerialPort::fail(OsError e) {
  lastError_ = std::move(e);
  return false;
}

bool WebSerialPort::refuse(OsError e) {
  timing_.refuse(e);
  return fail(std::move(e));
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
  timing_.configure(timeouts);
  return true;
}

void WebSerialPort::close() {
  timing_.clear();
  input_.clear();
  if (line_ == nullptr) return;
  line_->close();
  line_.reset();
}

bool WebSerialPort::purge() {
  timing_.clear();
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
  if (line_ == nullptr) return refuse(notOpen());
  if (!timing_.begin(kind, buffer.size(), error(webError::busy, "another operation is under way")))
    return fail(error(webError::busy, "another operation is under way"));
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
  if (line_ == nullptr) return refuse(notOpen());
  if (auto gone = line_->failure()) return refuse(std::move(*gone));
  if (!timing_.begin(PortTiming::Kind::Write, bytes.size(),
                     error(webError::busy, "another operation is under way")))
    return fail(error(webError::busy, "another operation is under way"));
  line_->write(bytes);
  return true;
}

std::size_t WebSerialPort::takeUnasked(std::span<std::uint8_t> buffer) {
  if (line_ == nullptr || timing_.outstanding()) return 0;
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

PollResult WebSerialPort::poll() {
  PollResult result;
  if (auto refused = timing_.takeRefusal()) {
    result = PollResult::failed(std::move(*refused));
  } else if (line_ == nullptr) {
    result = PollResult::failed(notOpen());
  } else if (!timing_.outstanding()) {
    result = PollResult::failed(error(webError::invalid, "nothing is under way"));
  } else if (auto gone = line_->failure()) {
    result = PollResult::failed(std::move(*gone));
  } else {
    result = timing_.reading() ? pollRead() : pollWrite();
  }
  if (!result.isPending()) timing_.finish();
  if (result.isFailed()) lastError_ = result.error;
  return result;
}

// Every byte that arrived while the read was still open belongs to it, however late the poll;
// the first that came after its time-out stays for whatever is asked next.
PollResult WebSerialPort::pollRead() {
  line_->take(input_);
  while (!input_.empty() && timing_.accepts(input_.front().at)) {
    Arrival& front = input_.front();
    const std::size_t k = std::min(timing_.wanted(), front.bytes.size());
    std::copy_n(front.bytes.begin(), k,
                readInto_.begin() + static_cast<std::ptrdiff_t>(timing_.done()));
    front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<std::ptrdiff_t>(k));
    timing_.arrived(k, front.at);
    if (front.bytes.empty()) input_.pop_front();
  }
  if (timing_.over(timing_.now())) return PollResult::completed(timing_.done());
  return PollResult::pending();
}

// A write is done once the browser has taken it and, on a real line, its bytes' time on the
// wire has passed: a USB adapter reports a write as taken long before its chip has sent it,
// time the device's answer window would otherwise lose. A write the browser never takes ends
// with nothing written, as a port whose write time-out expired.
PollResult WebSerialPort::pollWrite() {
  const Clock::time_point now = timing_.now();
  if (!line_->writing() && now >= leftTheWire()) return PollResult::completed(timing_.size());
  if (timing_.over(now)) return PollResult::completed(line_->writing() ? 0 : timing_.size());
  return PollResult::pending();
}

Clock::time_point WebSerialPort::leftTheWire() const {
  return timing_.started() + line_->byteTime() * static_cast<std::int64_t>(timing_.size());
}

WaitHint WebSerialPort::waitHint() const {
  if (timing_.refusedStart()) return WaitHint{-1, timing_.now()};
  if (line_ == nullptr || !timing_.outstanding()) return WaitHint{};
  Clock::time_point deadline = std::min(timing_.nextDeadline(), line_->nextArrival());
  if (!timing_.reading() && !line_->writing()) deadline = std::min(deadline, leftTheWire());
  // What is already due is due now, not at some moment the page has left behind.
  return WaitHint{0, std::max(deadline, timing_.now())};
}

void WebSerialPort::waitForProgress(Clock::time_point until) {
  if (line_ == nullptr || !timing_.outstanding()) return;
  const Clock::time_point limit = std::min(until, waitHint().deadline);
  if (limit > timing_.now()) line_->waitForNews(limit);
}

}  // namespace morva
