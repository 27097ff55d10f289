// The far end of the cable for tests: the master side of a pseudo-terminal, whose slave path
// the port under test opens as its serial device.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morva::testing {

class PtyDevice {
 public:
  PtyDevice() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);  // the device side must not translate or echo either
    tcsetattr(master_, TCSANOW, &t);
    path_ = ptsname(master_);
  }
  ~PtyDevice() { hangUp(); }
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  bool ok() const { return master_ >= 0 && !path_.empty(); }
  const std::string& path() const { return path_; }

  bool send(const std::vector<std::uint8_t>& bytes) {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // The device disappears, as when a USB adapter is pulled.
  void hangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace morva::testing
