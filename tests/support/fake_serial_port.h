// A serial port whose device is a script: every read or write the code under test starts is
// answered by the next scripted Reply, or by a device function that sees what was written.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

class FakeSerialPort : public SerialPort {
 public:
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
  int overlappingStarts = 0;  // starts while another operation was outstanding

  bool open(const std::string& name) override {
    opened.push_back(name);
    if (openRefusal) {
      error_ = *openRefusal;
      return false;
    }
    for (const auto& n : unopenable)
      if (n == name) {
        error_ = {2, "No such file or directory", FailureCause::NotFound};
        return false;
      }
    open_ = true;
    name_ = name;
    return true;
  }
  bool configure(const Timeouts& timeouts) override {
    configuredWith = timeouts;
    for (const auto& n : unconfigurable)
      if (n == name_) {
        error_ = {25, "Inappropriate ioctl for device", FailureCause::NotATerminal};
        return false;
      }
    return open_;
  }
  void close() override {
    if (open_) ++closes;
    open_ = false;
    outstanding_.reset();
    unasked.clear();
  }
  bool isOpen() const override { return open_; }
  const std::string& name() const { return name_; }

  bool purge() override {
    ++purges;
    outstanding_.reset();
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
    if (!open_ || outstanding_) return 0;
    return takeFromUnasked(buffer);
  }
  bool startGapRead(std::span<std::uint8_t> buffer) override {
    Operation op{true, buffer.size(), {}, true};
    operations.push_back(op);
    if (outstanding_) ++overlappingStarts;
    if (!open_) return false;
    outstanding_ = Pending{op, Reply{}, buffer};
    return true;
  }

  PollResult poll() override {
    if (!open_) return PollResult::failed({9, "Bad file descriptor", FailureCause::Other});
    if (!outstanding_) return PollResult::failed({22, "Invalid argument", FailureCause::Other});
    Pending& p = *outstanding_;
    if (p.reply.pendingPolls > 0) {
      --p.reply.pendingPolls;
      return PollResult::pending();
    }
    PollResult result;
    if (p.op.gap) {
      result = PollResult::completed(takeFromUnasked(p.buffer));
    } else if (p.reply.fails || p.reply.startFails) {
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
    outstanding_.reset();
    return result;
  }

  // The scripted device says nothing it was not asked for: the line is quiet at once.
  void discardUntilQuiet(Clock::time_point) override {
    ++quietWaits;
    purge();
  }
  int quietWaits = 0;

  WaitHint waitHint() const override { return {}; }
  void waitForProgress(Clock::time_point) override {}
  const OsError& lastError() const override { return error_; }

  bool hasOutstanding() const { return outstanding_.has_value(); }
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

  struct Pending {
    Operation op;
    Reply reply;
    std::span<std::uint8_t> buffer;
  };

  bool start(const Operation& op, std::span<std::uint8_t> buffer) {
    operations.push_back(op);
    Reply reply;
    if (device) {
      reply = device(op);
    } else if (!script.empty()) {
      reply = script.front();
      script.pop_front();
    } else {
      reply.pendingPolls = 1 << 30;  // an unscripted operation never finishes
    }
    if (!open_) {
      reply.startFails = true;
      reply.error = 9;
    }
    if (outstanding_) ++overlappingStarts;
    outstanding_ = Pending{op, reply, buffer};
    if (reply.startFails) error_ = {reply.error, "scripted start failure", FailureCause::Other};
    return !reply.startFails;
  }

  bool open_ = false;
  std::string name_;
  std::optional<Pending> outstanding_;
  OsError error_;
};

}  // namespace morva::testing
