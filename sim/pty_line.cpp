#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

namespace morva::sim {
namespace {

using namespace std::chrono_literals;

[[noreturn]] void throwOsError(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

timespec toTimespec(SimClock::time_point at) {
  const auto ns = at.time_since_epoch().count();
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Milliseconds for poll(), rounded up so that a wait never ends just short of its deadline.
int pollTimeout(std::optional<SimClock::time_point> deadline) {
  if (!deadline) return -1;
  const auto remaining = *deadline - SimClock::now();
  if (remaining <= 0ns) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

// Raw mode is a property of the terminal, not of a descriptor: setting it once here holds for
// every later opener until one of them changes it.
void makeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) throwOsError("tcgetattr on the pty");
  cfmakeraw(&settings);
  cfsetspeed(&settings, B38400);
  if (tcsetattr(fd, TCSANOW, &settings) != 0) throwOsError("tcsetattr on the pty");
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

SimClock::time_point SimClock::now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return time_point(duration(static_cast<rep>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec));
}

SimClock::time_point byteDeadline(SimClock::time_point t0, std::size_t n) {
  return t0 + std::chrono::nanoseconds(static_cast<long long>(n) * 1'000'000'000LL / 3840);
}

PtyLine::PtyLine() {
  try {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) throwOsError("posix_openpt");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) throwOsError("unlocking the pty");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throwOsError("ptsname_r");
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0) throwOsError("opening the pty's slave");
    makeRaw(slave_);
    if (fcntl(master_, F_SETFL, O_NONBLOCK) != 0) throwOsError("fcntl on the pty");
    stopEvent_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopEvent_ < 0) throwOsError("eventfd");
  } catch (...) {
    closeFd(master_);
    closeFd(slave_);
    closeFd(stopEvent_);
    throw;
  }
}

PtyLine::~PtyLine() {
  hangUp();
  closeFd(stopEvent_);
}

void PtyLine::hangUp() {
  closeFd(master_);
  closeFd(slave_);
}

void PtyLine::drain(std::chrono::milliseconds limit) {
  const auto end = SimClock::now() + limit;
  int unread = 0;
  // The own slave shares the terminal's input queue with the PC's descriptor. Bytes written to
  // the master reach that queue later, from a kernel worker: a poll of the slave waits for that
  // hand-over, so that the count includes every byte sent, however busy the machine is.
  do {
    if (!waitUntil(SimClock::now() + 1ms)) return;
    pollfd handedOver{slave_, POLLIN, 0};
    if (slave_ < 0 || ::poll(&handedOver, 1, 0) < 0 || ioctl(slave_, FIONREAD, &unread) != 0)
      return;
  } while (unread > 0 && SimClock::now() < end);
}

void PtyLine::requestStop() {
  stop_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(stopEvent_, &one, sizeof one);
}

PtyLine::Outcome PtyLine::read(std::vector<std::uint8_t>& into,
                               std::optional<SimClock::time_point> deadline) {
  while (master_ >= 0) {
    if (stop_) return Outcome::Stopped;
    pollfd fds[2] = {{master_, POLLIN, 0}, {stopEvent_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, pollTimeout(deadline));
    if (ready < 0 && errno != EINTR) return Outcome::Closed;
    if (stop_) return Outcome::Stopped;
    if (fds[0].revents & POLLIN) {
      std::uint8_t buffer[512];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) {
        into.insert(into.end(), buffer, buffer + n);
        return Outcome::Data;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      return Outcome::Closed;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Outcome::Closed;
    if (deadline && SimClock::now() >= *deadline) return Outcome::Timeout;
  }
  return Outcome::Closed;
}

bool PtyLine::send(std::span<const std::uint8_t> bytes, bool paced) {
  if (master_ < 0) return false;
  if (!paced) return writeAll(bytes);
  const auto t0 = std::max(SimClock::now(), lineFree_);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    // A byte is handed over when its stop bit would have left the real wire.
    if (!waitUntil(byteDeadline(t0, i + 1)) || !writeAll(bytes.subspan(i, 1))) return false;
  }
  lineFree_ = byteDeadline(t0, bytes.size());
  return true;
}

bool PtyLine::waitUntil(SimClock::time_point deadline) {
  for (;;) {
    if (stop_) return false;
    const auto remaining = deadline - SimClock::now();
    if (remaining <= 0ns) return true;
    if (remaining > 2ms) {
      // Long waits watch the stop event; the last stretch is an absolute sleep, so that
      // rounding to milliseconds never adds up over a paced frame.
      pollfd stop{stopEvent_, POLLIN, 0};
      ::poll(
          &stop, 1,
          static_cast<int>(std::chrono::floor<std::chrono::milliseconds>(remaining - 1ms).count()));
    } else {
      const timespec at = toTimespec(deadline);
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
    }
  }
}

bool PtyLine::writeAll(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty() && master_ >= 0) {
    const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EAGAIN) {
      // The PC is not reading and the pty's buffer is full: wait for room or for the stop.
      pollfd fds[2] = {{master_, POLLOUT, 0}, {stopEvent_, POLLIN, 0}};
      ::poll(fds, 2, -1);
      if (stop_) return false;
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return bytes.empty();
}

}  // namespace morva::sim
