#include "platform/posix/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "platform/posix/file_service.h"
#include "platform/posix/os_error.h"

namespace morva {
namespace {

using namespace std::chrono_literals;

constexpr auto byteOnWire = 260us;  // 10 bit-times at 38400 baud
constexpr auto shortestRecheck = 1ms;

OsError badDescriptor() {
  return errnoError(EBADF, FailureCause::Other);
}

// The device at the far end is gone: the read side says so with a hang-up rather than errno.
OsError vanished(int number = EIO) {
  return errnoError(number, FailureCause::Vanished);
}

OsError descriptorError(int number) {
  return errnoError(number, meansVanished(number) ? FailureCause::Vanished : FailureCause::Other);
}

OsError settingsError(int number) {
  if (number == ENOTTY) return errnoError(number, FailureCause::NotATerminal);
  return descriptorError(number);
}

void makeLineSettings(termios& t) {
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  // Reads never wait in the driver: the time-outs are the port's own, measured in poll().
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
}

// tcsetattr succeeds when the driver took any part of the settings, so look at what stuck.
bool lineSettingsTook(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  return cfgetospeed(&t) == B38400 && cfgetispeed(&t) == B38400 && (t.c_cflag & CSIZE) == CS8 &&
         (t.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 && (t.c_iflag & (IXON | IXOFF)) == 0;
}

// USB adapters otherwise hold received bytes back for up to 16 ms, which adds up over the
// thousands of one-byte answers in a transfer. Ptys refuse and UARTs have nothing to hold
// back, so a refusal changes nothing. True when a serial driver answered: a real line.
bool requestLowLatency(int fd) {
#if defined(__linux__) && defined(TIOCGSERIAL)
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
  serial.flags |= ASYNC_LOW_LATENCY;
  (void)ioctl(fd, TIOCSSERIAL, &serial);
  return true;
#else
  (void)fd;
  return false;
#endif
}

// TIOCEXCL keeps out other openers except root; the lock also stops any program that takes it,
// root or not. Only terminals are guarded: locking /dev/null or a file would shut out others
// for nothing, and configure() turns those away anyway.
std::optional<OsError> takeExclusive(int fd) {
  if (!isatty(fd)) return std::nullopt;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int number = errno;
    return errnoError(number, number == EWOULDBLOCK ? FailureCause::Busy : FailureCause::Other);
  }
  (void)ioctl(fd, TIOCEXCL);
  return std::nullopt;
}

// A wait whose limit has just passed waits not at all.
timespec toTimespec(Clock::duration d) {
  d = std::max(d, Clock::duration::zero());
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(d);
  auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(d - seconds);
  return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

}  // namespace

PosixSerialPort::PosixSerialPort(TimeSource now)
    : PortSkeleton({badDescriptor(), errnoError(EBUSY, FailureCause::Other),
                    errnoError(EINVAL, FailureCause::Other)},
                   std::move(now)) {}

PosixSerialPort::~PosixSerialPort() {
  close();
}

bool PosixSerialPort::open(const std::string& name) {
  close();
  int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(errnoError(errno, openFailureCause(errno)));
  if (auto error = takeExclusive(fd)) {
    ::close(fd);
    return fail(*error);
  }
  fd_ = fd;
  return true;
}

bool PosixSerialPort::configure(const Timeouts& timeouts) {
  if (fd_ < 0) return fail(badDescriptor());
  timing().configure(timeouts);
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return fail(settingsError(errno));
  makeLineSettings(t);
  if (tcsetattr(fd_, TCSANOW, &t) != 0) return fail(settingsError(errno));
  if (!lineSettingsTook(fd_)) return fail(errnoError(EINVAL, FailureCause::Other));
  realLine_ = requestLowLatency(fd_);
  if (tcflush(fd_, TCIOFLUSH) != 0) return fail(settingsError(errno));
  return true;
}

void PosixSerialPort::close() {
  forgetOperation();
  if (fd_ < 0) return;
  (void)ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // releases the lock too
  fd_ = -1;
}

bool PosixSerialPort::purge() {
  forgetOperation();
  if (fd_ < 0) return fail(badDescriptor());
  if (tcflush(fd_, TCIOFLUSH) != 0) return fail(settingsError(errno));
  return true;
}

// Linux offers no way to slip an arbitrary byte ahead of the driver's output queue (only the
// flow-control characters have one, and those settings are not ours to change), so the byte
// is written straight away; with the queue empty it is the next to leave.
bool PosixSerialPort::transmitPriority(std::uint8_t byte) {
  if (fd_ < 0) return fail(badDescriptor());
  ssize_t n = ::write(fd_, &byte, 1);
  if (n == 1) return true;
  return fail(descriptorError(n < 0 ? errno : EAGAIN));
}

bool PosixSerialPort::startRead(std::span<std::uint8_t> buffer) {
  if (!beginOperation(PortTiming::Kind::Read, buffer.size())) return false;
  readInto_ = buffer.data();
  return true;
}

bool PosixSerialPort::startWrite(std::span<const std::uint8_t> bytes) {
  if (!beginOperation(PortTiming::Kind::Write, bytes.size())) return false;
  writeFrom_ = bytes.data();
  queued_ = 0;
  if (auto error = pushOutput()) return refuseStart(*error);
  return true;
}

std::size_t PosixSerialPort::takeUnasked(std::span<std::uint8_t> buffer) {
  int waiting = 0;
  if (fd_ < 0 || timing().outstanding() || buffer.empty() || ioctl(fd_, FIONREAD, &waiting) != 0 ||
      waiting <= 0)
    return 0;
  const ssize_t n =
      ::read(fd_, buffer.data(), std::min(buffer.size(), static_cast<std::size_t>(waiting)));
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool PosixSerialPort::startGapRead(std::span<std::uint8_t> buffer) {
  if (!beginOperation(PortTiming::Kind::GapRead, buffer.size())) return false;
  readInto_ = buffer.data();
  return true;
}

std::optional<FileIdentity> PosixSerialPort::identity() const {
  struct stat status {};
  if (fd_ < 0 || ::fstat(fd_, &status) != 0) return std::nullopt;
  return identityOf(status);
}

PollResult PosixSerialPort::pollOutstanding() {
  return timing().reading() ? pollRead() : pollWrite();
}

PollResult PosixSerialPort::pollRead() {
  if (auto error = takeInput()) return PollResult::failed(*error);
  if (timing().over(now())) return PollResult::completed(timing().done());
  return PollResult::pending();
}

// With VMIN and VTIME at 0 an empty tty reads 0 bytes, just like a hung-up one, so the
// descriptor is asked first: readable yet empty, or hung up, means the device is gone.
std::optional<OsError> PosixSerialPort::takeInput() {
  if (timing().wanted() == 0) return std::nullopt;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0)
    return errno == EINTR ? std::nullopt : std::optional(descriptorError(errno));
  if (p.revents & POLLNVAL) return badDescriptor();
  if (!(p.revents & POLLIN)) {
    if (p.revents & (POLLHUP | POLLERR)) return vanished();
    return std::nullopt;
  }
  ssize_t n = ::read(fd_, readInto_ + timing().done(), timing().wanted());
  if (n > 0) {
    timing().arrived(static_cast<std::size_t>(n), now());
    return std::nullopt;
  }
  if (n == 0) return vanished();
  if (errno == EAGAIN || errno == EINTR) return std::nullopt;
  return descriptorError(errno);
}

PollResult PosixSerialPort::pollWrite() {
  if (auto error = pushOutput()) return PollResult::failed(*error);
  if (timing().wanted() == 0) {
    if (auto error = readOutputQueue()) return PollResult::failed(*error);
    if (queued_ == 0 && now() >= leftTheWire()) return PollResult::completed(timing().done());
  }
  if (timing().over(now())) return PollResult::completed(timing().done());
  return PollResult::pending();
}

std::optional<OsError> PosixSerialPort::pushOutput() {
  if (timing().wanted() == 0) return std::nullopt;
  // A tty never raises SIGPIPE, and a pipe opened for reading and writing has a reader as
  // long as we hold it, so a plain write() is safe here.
  ssize_t n = ::write(fd_, writeFrom_ + timing().done(), timing().wanted());
  if (n > 0) {
    timing().wrote(static_cast<std::size_t>(n));
    return std::nullopt;
  }
  if (n == 0 || errno == EAGAIN || errno == EINTR) return std::nullopt;
  return descriptorError(errno);
}

// The bytes have left only when the driver's output queue is empty. Drivers that cannot tell
// (and ptys, which always say 0) count as empty.
std::optional<OsError> PosixSerialPort::readOutputQueue() {
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0) {
    if (meansVanished(errno)) return vanished(errno);
    queued = 0;
  }
  queued_ = static_cast<std::size_t>(std::max(queued, 0));
  return std::nullopt;
}

WaitHint PosixSerialPort::outstandingHint() const {
  if (timing().reading()) return WaitHint{fd_, timing().nextDeadline()};
  return WaitHint{-1, writeRecheck()};
}

// A write waits on the wire, not on an event: look again when the bytes still to go should
// have left at 38400 baud.
Clock::time_point PosixSerialPort::writeRecheck() const {
  std::size_t left = timing().wanted() + queued_;
  auto wait = std::max<Clock::duration>(shortestRecheck, byteOnWire * left);
  return std::min(timing().nextDeadline(), std::max(now() + wait, leftTheWire()));
}

// A USB adapter's driver counts a write as gone once the adapter has taken it, while its chip
// still sends it at 38400 baud: 67 ms for a data frame, time the device's answer window would
// otherwise lose. On a real line the bytes cannot have left before their time on the wire.
Clock::time_point PosixSerialPort::leftTheWire() const {
  if (!realLine_) return timing().started();
  return timing().started() +
         std::chrono::duration_cast<Clock::duration>(byteOnWire * timing().size());
}

void PosixSerialPort::waitOutstanding(Clock::time_point limit) {
  short events = 0;
  if (timing().reading()) events = POLLIN;
  if (!timing().reading() && timing().wanted() > 0) events = POLLOUT;
  // Even with no events asked for, a hang-up wakes us so that the next poll can report it.
  pollfd p{fd_, events, 0};
  timespec timeout = toTimespec(limit - now());
  (void)ppoll(&p, 1, &timeout, nullptr);
}

}  // namespace morva
