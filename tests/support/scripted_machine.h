// The machine a program runs on in a test: its own files, a port list the test gives and a
// scripted port, behind which a Vk350 answers the probe on the ports named in devicesOn.
#pragma once

#include <set>
#include <string>

#include "platform/posix/file_service.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/quiet_console.h"

namespace morva::testing {

struct ScriptedMachine {
  FakeSerialPort port;
  ListedPorts lister;
  PosixFileService files;
  std::set<std::string> devicesOn;
  int writePendingPolls = 0;  // polls a write stays pending

  ScriptedMachine() {
    port.device = [this](const Operation& op) {
      if (!op.isRead) return Reply::written(writePendingPolls);
      if (op.size == deviceIdentification.size() && devicesOn.count(port.name()) > 0)
        return Reply::bytes(deviceIdentification);
      return Reply::bytes({});  // silence: the read ends empty
    };
  }
  ScriptedMachine(const ScriptedMachine&) = delete;
  ScriptedMachine& operator=(const ScriptedMachine&) = delete;
};

}  // namespace morva::testing
