// A serial port whose device is a script: every read or write the code under test starts is
// answered by the next scripted Reply, or by a device function that sees what was written.
// The script, not the clock, says when an operation ends; what every port keeps (one operation
// at a time, a refused start reported by the next poll, the last error) is the skeleton's.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/port_skeleton.h"
#include "transfer/serial_port.h"

namespace morva::testing {

// What the device answers a WakeUp or a probe: versions 2.05 and 1.10, their checksum, ACK.
inline const std::vector<std::uint8_t> deviceIdentification{0x02, 0x05, 0x01, 0x0A, 0xEE, 0x06};

struct Reply {
  int pendingPolls = 0;  // polls that answer Pending before the outcome
  bool fails = false;    // the poll fails with `error` instead of completing
  int error = 0;
  bool startFails = false;                // the start itself fails (with `error`)
  std::vector<std::uint8_t> data;         // a read's bytes (their count is the read's count)
  std::optional<std::size_t> writeCount;  // a write's count; all bytes when absent
  std::vector<std::uint8_t> unasked;      // arrive after this reply, for nobody (a copy of it)

  static Reply bytes(std::vector<std::uint8_t> d, int pending = 0) {
    Reply r;
    r.data = std::move(d);
    r.pendingPolls = pending;
    return r;
  }
  static Reply written(int pending = 0) {
    Reply r;
    r.pendingPolls = pending;
    return r;
  }
  static Reply failure(int errorNumber, int pending = 0) {
    Reply r;
    r.fails = true;
    r.error = errorNumber;
    r.pendingPolls = pending;
    return r;
  }
};

struct Operation {
  bool isRead = false;
  std::size_t size = 0;               // bytes asked for (read) or given (write)
  std::vector<std::uint8_t> written;  // a write's bytes
  bool gap = false;                   // a read that waits one gap for input nobody asked for
};

// The fake's refusals: the POSIX port's numbers and texts for the same conditions.
inline PortRefusals fakeRefusals() {
  return {{EBADF, "Bad file descriptor", FailureCause::Other},
          {EBUSY, "Device or resource busy", FailureCause::Other},
          {EINVAL, "Invalid argument", FailureCause::Other}};
}

class FakeSerialPort : public PortSkeleton {
 public:
  FakeSerialPort() : PortSkeleton(fakeRefusals()) {}

  // Ports that refuse to open or to configure, by name.
  std::vector<std::string> unopenable;
  std::vector<std::string> unconfigurable;
  std::optional<OsError> openRefusal;  // every open fails with this
  bool priorityFails = false;

  std::deque<Reply> script;                       // used when no device is set
  std::function<Reply(const Operation&)> device;  // sees every started operation but gap reads
  // Bytes that arrived when no read was asking: takeUnasked() and a gap read take them. A gap
  // read ends at its first poll, with the bytes there are, if any.
  std::deque<std::uint8_t> unasked;

  // What happened, for the test to look at.
  std::vector<Operation> operations;
  std::vector<std::string> opened;
  std::vector<std::uint8_t> priorityBytes;
  std::optional<Timeouts> configuredWith;  // what the last configure() was given
  int purges = 0;
  int closes = 0;
  int overlappingStarts = 0;  // starts while another operation was outstanding (refused)

  bool open(const std::string& name) override {
    opened.push_back(name);
    if (openRefusal) return fail(*openRefusal);
    for (const auto& n : unopenable)
      if (n == name) return fail({ENOENT, "No such file or directory", FailureCause::NotFound});
    open_ = true;
    name_ = name;
    return true;
  }
  bool configure(const Timeouts& timeouts) override {
    configuredWith = timeouts;
    for (const auto& n : unconfigurable)
      if (n == name_)
        return fail({ENOTTY, "Inappropriate ioctl for device", FailureCause::NotATerminal});
    return open_;
  }
  void close() override {
    if (open_) ++closes;
    open_ = false;
    forgetOperation();
    unasked.clear();
  }
  bool isOpen() const override { return open_; }
  const std::string& name() const { return name_; }

  bool purge() override {
    ++purges;
    forgetOperation();
    unasked.clear();
    return open_;
  }
  bool transmitPriority(std::uint8_t byte) override {
    if (!open_ || priorityFails) return false;
    priorityBytes.push_back(byte);
    return true;
  }

  bool startRead(std::span<std::uint8_t> buffer) override {
    Operation op{true, buffer.size(), {}};
    return start(op, buffer);
  }
  bool startWrite(std::span<const std::uint8_t> bytes) override {
    Operation op{false, bytes.size(), {bytes.begin(), bytes.end()}};
    return start(op, {});
  }

  std::size_t takeUnasked(std::span<std::uint8_t> buffer) override {
    if (!open_ || timing().outstanding()) return 0;
    return takeFromUnasked(buffer);
  }
  bool startGapRead(std::span<std::uint8_t> buffer) override {
    Operation op{true, buffer.size(), {}, true};
    return start(op, buffer);
  }

  // The scripted device says nothing it was not asked for: the line is quiet at once.
  void discardUntilQuiet(Clock::time_point) override {
    ++quietWaits;
    purge();
  }
  int quietWaits = 0;

  bool hasOutstanding() const { return timing().outstanding(); }
  // The frames written, in order.
  std::vector<std::vector<std::uint8_t>> writes() const {
    std::vector<std::vector<std::uint8_t>> w;
    for (const auto& op : operations)
      if (!op.isRead) w.push_back(op.written);
    return w;
  }

 private:
  std::size_t takeFromUnasked(std::span<std::uint8_t> buffer) {
    const std::size_t n = std::min(buffer.size(), unasked.size());
    std::copy_n(unasked.begin(), n, buffer.begin());
    unasked.erase(unasked.begin(), unasked.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }

  // Pending for the reply's pending polls, then its outcome.
  PollResult pollOutstanding() override {
    Pending& p = current_;
    if (p.reply.pendingPolls > 0) {
      --p.reply.pendingPolls;
      return PollResult::pending();
    }
    PollResult result;
    if (p.op.gap) {
      result = PollResult::completed(takeFromUnasked(p.buffer));
    } else if (p.reply.fails) {
      result = PollResult::failed({p.reply.error, "scripted failure", FailureCause::Other});
    } else if (p.op.isRead) {
      std::size_t n = std::min(p.reply.data.size(), p.buffer.size());
      std::copy_n(p.reply.data.begin(), n, p.buffer.begin());
      result = PollResult::completed(n);
    } else {
      result = PollResult::completed(p.reply.writeCount.value_or(p.op.size));
    }
    if (result.isCompleted())
      unasked.insert(unasked.end(), p.reply.unasked.begin(), p.reply.unasked.end());
    return result;
  }
  // The script ends operations, not time: nothing to wait on, no deadline.
  WaitHint outstandingHint() const override { return {}; }
  void waitOutstanding(Clock::time_point) override {}

  struct Pending {
    Operation op;
    Reply reply;
    std::span<std::uint8_t> buffer;
  };

  Reply replyTo(const Operation& op) {
    Reply reply;
    if (device) {
      reply = device(op);
    } else if (!script.empty()) {
      reply = script.front();
      script.pop_front();
    } else {
      reply.pendingPolls = 1 << 30;  // an unscripted operation never finishes
    }
    return reply;
  }

  bool start(const Operation& op, std::span<std::uint8_t> buffer) {
    operations.push_back(op);
    // A gap read waits for bytes nobody asked for: the device is not asked.
    Reply reply = op.gap ? Reply{} : replyTo(op);
    if (timing().outstanding()) ++overlappingStarts;
    using Kind = PortTiming::Kind;
    const Kind kind = !op.isRead ? Kind::Write : op.gap ? Kind::GapRead : Kind::Read;
    if (!beginOperation(kind, op.size)) return false;
    if (reply.startFails)
      return refuseStart({reply.error, "scripted start failure", FailureCause::Other});
    current_ = Pending{op, std::move(reply), buffer};
    return true;
  }

  bool open_ = false;
  std::string name_;
  Pending current_;  // the outstanding operation, while the skeleton has one
};

}  // namespace morva::testing
