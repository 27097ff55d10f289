#include "platform/win32/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/win32/os_error.h"

namespace morva {
namespace {

using namespace std::chrono_literals;

constexpr const char* lineSettings = "baud=38400 parity=N data=8 stop=1";
constexpr DWORD queueSize = 260;  // holds a whole data frame, with room to spare
// Once an operation has outlived its time-out without the driver ending it, look again this
// often rather than spin.
constexpr auto recheck = 10ms;
// How long an aborted operation is given to hand its buffer back before it is let go.
constexpr auto releaseWait = 1s;
constexpr DWORD purgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

HANDLE asHandle(void* h) {
  return static_cast<HANDLE>(h);
}

OsError portError(DWORD number) {
  return win32Error(number, meansDeviceGone(number) ? FailureCause::Vanished : FailureCause::Other);
}

OsError notOpen() {
  return win32Error(ERROR_INVALID_HANDLE, FailureCause::Other);
}

// "COM10" opens only as "\\.\COM10"; the short form "COM1" works only below 10, so every port
// takes the long form. A name that already is a device path is used as it stands.
std::string devicePath(std::string name) {
  if (!name.empty() && name.back() == ':') name.pop_back();
  if (name.starts_with("\\\\")) return name;
  return "\\\\.\\" + name;
}

// Keeps the first failure's error while the remaining calls are still made.
struct CallChain {
  bool ok = true;
  DWORD firstError = 0;
  void take(BOOL result) {
    if (result) return;
    if (ok) firstError = GetLastError();
    ok = false;
  }
};

DWORD millisecondsUntil(Clock::time_point limit, Clock::time_point now) {
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit - now).count();
  return static_cast<DWORD>(std::clamp<long long>(ms, 0, 0x7FFFFFFF));
}

}  // namespace

struct Win32SerialPort::Records {
  OVERLAPPED write{};
  OVERLAPPED read{};

  // Each record has an event of its own: with one shared (named) event, the completion of one
  // operation could be taken for the other's.
  Records() {
    write.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    read.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  ~Records() {
    if (write.hEvent != nullptr) CloseHandle(write.hEvent);
    if (read.hEvent != nullptr) CloseHandle(read.hEvent);
  }
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;

  OVERLAPPED& of(PortTiming::Kind kind) { return kind == PortTiming::Kind::Write ? write : read; }

  // A fresh record for the next operation; the event stays.
  OVERLAPPED& prepare(PortTiming::Kind kind) {
    OVERLAPPED& record = of(kind);
    HANDLE event = record.hEvent;
    record = OVERLAPPED{};
    record.hEvent = event;
    return record;
  }
};

Win32SerialPort::Win32SerialPort(TimeSource now)
    : PortSkeleton({notOpen(), win32Error(ERROR_BUSY, FailureCause::Other),
                    win32Error(ERROR_INVALID_PARAMETER, FailureCause::Other)},
                   std::move(now)),
      handle_(INVALID_HANDLE_VALUE),
      records_(std::make_unique<Records>()) {}

Win32SerialPort::~Win32SerialPort() {
  close();
}

bool Win32SerialPort::isOpen() const {
  return asHandle(handle_) != INVALID_HANDLE_VALUE;
}

bool Win32SerialPort::open(const std::string& name) {
  close();
  HANDLE h = CreateFileA(devicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD number = GetLastError();
    return fail(win32Error(number, portOpenCause(number)));
  }
  handle_ = h;
  return true;
}

bool Win32SerialPort::configure(const Timeouts& timeouts) {
  if (!isOpen()) return fail(notOpen());
  timing().configure(timeouts);
  HANDLE h = asHandle(handle_);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  // The settings string names no flow control, so BuildCommDCBA turns both kinds off; every
  // other field stays as it finds it (zero), and the record is handed over as it stands.
  const auto interval = static_cast<DWORD>(timeouts.interval.count());
  const auto perByte = static_cast<DWORD>(timeouts.perByte.count());
  COMMTIMEOUTS limits{interval, perByte, 0, perByte, 0};
  CallChain chain;
  chain.take(BuildCommDCBA(lineSettings, &dcb));
  chain.take(SetCommState(h, &dcb));
  chain.take(SetupComm(h, queueSize, queueSize));
  chain.take(SetCommTimeouts(h, &limits));
  gapTimeouts_ = false;
  if (chain.ok) return true;
  // A call may fail without setting an error; the number must still say something went wrong.
  return fail(portError(chain.firstError != 0 ? chain.firstError : ERROR_INVALID_FUNCTION));
}

void Win32SerialPort::close() {
  abandonOutstanding();
  forgetOperation();
  if (!isOpen()) return;
  CloseHandle(asHandle(handle_));
  handle_ = INVALID_HANDLE_VALUE;
}

bool Win32SerialPort::purge() {
  if (!isOpen()) {
    forgetOperation();
    return fail(notOpen());
  }
  BOOL ok = PurgeComm(asHandle(handle_), purgeAll);
  DWORD number = ok ? 0 : GetLastError();
  if (!ok) CancelIo(asHandle(handle_));  // the operation must end even so
  awaitRelease();
  forgetOperation();
  return ok ? true : fail(portError(number));
}

bool Win32SerialPort::transmitPriority(std::uint8_t byte) {
  if (!isOpen()) return fail(notOpen());
  if (TransmitCommChar(asHandle(handle_), static_cast<char>(byte))) return true;
  return fail(portError(GetLastError()));
}

bool Win32SerialPort::startRead(std::span<std::uint8_t> buffer) {
  if (!begin(PortTiming::Kind::Read, buffer.size())) return false;
  OVERLAPPED& record = records_->prepare(PortTiming::Kind::Read);
  return issued(ReadFile(asHandle(handle_), buffer.data(), static_cast<DWORD>(buffer.size()),
                         nullptr, &record));
}

bool Win32SerialPort::startWrite(std::span<const std::uint8_t> bytes) {
  if (!begin(PortTiming::Kind::Write, bytes.size())) return false;
  OVERLAPPED& record = records_->prepare(PortTiming::Kind::Write);
  return issued(WriteFile(asHandle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()),
                          nullptr, &record));
}

std::size_t Win32SerialPort::takeUnasked(std::span<std::uint8_t> buffer) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!isOpen() || timing().outstanding() || buffer.empty() ||
      !ClearCommError(asHandle(handle_), &errors, &status) || status.cbInQue == 0)
    return 0;
  restoreLineTimeouts();
  OVERLAPPED& record = records_->prepare(PortTiming::Kind::Read);
  const DWORD want = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(buffer.size()));
  DWORD count = 0;
  if (!ReadFile(asHandle(handle_), buffer.data(), want, nullptr, &record) &&
      GetLastError() != ERROR_IO_PENDING)
    return 0;
  // The bytes are in the driver's queue already: the read ends without waiting on the line.
  if (!GetOverlappedResult(asHandle(handle_), &record, &count, TRUE) &&
      GetLastError() != ERROR_TIMEOUT)
    return 0;
  return count;
}

bool Win32SerialPort::startGapRead(std::span<std::uint8_t> buffer) {
  if (!begin(PortTiming::Kind::GapRead, buffer.size())) return false;
  const auto interval = static_cast<DWORD>(timing().timeouts().interval.count());
  if (!setTimeouts(interval, 0, interval)) return refuseStart(portError(GetLastError()));
  gapTimeouts_ = true;
  OVERLAPPED& record = records_->prepare(PortTiming::Kind::GapRead);
  return issued(ReadFile(asHandle(handle_), buffer.data(), static_cast<DWORD>(buffer.size()),
                         nullptr, &record));
}

bool Win32SerialPort::setTimeouts(unsigned long interval, unsigned long perByte,
                                  unsigned long total) {
  COMMTIMEOUTS limits{interval, perByte, total, perByte, 0};
  return SetCommTimeouts(asHandle(handle_), &limits) != FALSE;
}

void Win32SerialPort::restoreLineTimeouts() {
  if (!gapTimeouts_ || !isOpen()) return;
  const Timeouts& line = timing().timeouts();
  const auto perByte = static_cast<DWORD>(line.perByte.count());
  gapTimeouts_ = !setTimeouts(static_cast<DWORD>(line.interval.count()), perByte, 0);
}

// The driver keeps the time-outs; the skeleton keeps which operation is outstanding and when
// its total time-out ends, for the waits.
bool Win32SerialPort::begin(PortTiming::Kind kind, std::size_t size) {
  if (!beginOperation(kind, size)) return false;
  restoreLineTimeouts();
  return true;
}

// An operation that finished at once, or is under way, is outstanding until polled. A read
// that the driver ended at once by its time-out (ERROR_TIMEOUT) has its result in the record
// like any other.
bool Win32SerialPort::issued(bool ok) {
  if (ok) return true;
  DWORD number = GetLastError();
  if (number == ERROR_IO_PENDING || number == ERROR_TIMEOUT) return true;
  return refuseStart(portError(number));
}

PollResult Win32SerialPort::pollOutstanding() {
  DWORD count = 0;
  OVERLAPPED& record = records_->of(timing().kind());
  if (GetOverlappedResult(asHandle(handle_), &record, &count, FALSE))
    return PollResult::completed(count);
  DWORD number = GetLastError();
  if (number == ERROR_IO_INCOMPLETE || number == ERROR_IO_PENDING) return PollResult::pending();
  // Wine ends a read by its time-out with ERROR_TIMEOUT where Windows reports success;
  // either way it is a completed read with the bytes that came.
  return number == ERROR_TIMEOUT ? PollResult::completed(count)
                                 : PollResult::failed(portError(number));
}

WaitHint Win32SerialPort::outstandingHint() const {
  HANDLE event = records_->of(timing().kind()).hEvent;
  const Clock::time_point t = now();
  const Clock::time_point deadline = timing().nextDeadline();
  std::intptr_t waitable = event != nullptr ? reinterpret_cast<std::intptr_t>(event) : -1;
  return WaitHint{waitable, deadline > t ? deadline : t + recheck};
}

void Win32SerialPort::waitOutstanding(Clock::time_point limit) {
  OVERLAPPED& record = records_->of(timing().kind());
  // The event is auto-reset: a wait that already took its signal must not wait again.
  if (HasOverlappedIoCompleted(&record)) return;
  DWORD ms = millisecondsUntil(limit, now());
  if (record.hEvent == nullptr || WaitForSingleObject(record.hEvent, ms) == WAIT_FAILED)
    Sleep(std::min<DWORD>(ms, 10));
}

void Win32SerialPort::abandonOutstanding() {
  if (!timing().outstanding()) return;
  if (isOpen()) CancelIo(asHandle(handle_));
  awaitRelease();
}

// The driver writes into the caller's buffer and the record until the operation has ended,
// even an aborted one; wait for that (briefly) before either is used again. The wait is on
// the driver, so on the steady clock whatever clock the port was given.
void Win32SerialPort::awaitRelease() {
  if (!timing().outstanding() || !isOpen()) return;
  OVERLAPPED& record = records_->of(timing().kind());
  auto until = Clock::now() + releaseWait;
  while (!HasOverlappedIoCompleted(&record) && Clock::now() < until) {
    if (record.hEvent == nullptr || WaitForSingleObject(record.hEvent, 10) == WAIT_FAILED)
      Sleep(10);
  }
}

}  // namespace morva
