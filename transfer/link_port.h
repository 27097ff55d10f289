// The serial link's state shared with the engine: the port list, the selected port, and the
// one buffer every frame is built in or received into.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transfer/serial_port.h"

namespace morva {

inline constexpr std::size_t ioBufferSize = 260;

struct LinkPort {
  std::vector<std::string> portNameTable;  // sorted port names; Port menu item i + 1 is port i
  int portIndex = 0;
  SerialPort* port = nullptr;  // never null once the program runs; "no port" is !portOpen()
  std::array<std::uint8_t, ioBufferSize> ioBuffer{};
  std::uint32_t bytesWritten = 0;
  std::uint32_t bytesRead = 0;
  // The engine's last read or write could not even be started: the step that would poll it
  // reports this error instead of asking the port.
  std::optional<OsError> failedStart;
  // Nothing is owed on the open port by either side: a probe ended with a whole
  // identification, or the last exchange ended with a whole answer after which the device
  // waits for a new frame. A port made ready for a session then needs no quiet wait first.
  bool lineQuiet = false;

  bool portOpen() const { return port != nullptr && port->isOpen(); }
};

}  // namespace morva
