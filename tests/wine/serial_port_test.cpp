// The Win32 serial port against vk350-sim, which run.sh puts behind the port named in
// MORVA_TEST_PORT (COM1 by default): what every port promises, and what is Windows' own.
#include "platform/win32/serial_port.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "platform/win32/os_error.h"
#include "tests/support/serial_port_contract.h"

namespace morva {

namespace {

std::string portName() {
  const char* name = std::getenv("MORVA_TEST_PORT");
  return name != nullptr && *name != '\0' ? name : "COM1";
}

}  // namespace

// The contract's far end: the one vk350-sim of the run, behind the COM port.
testing::ContractLine testing::contractLine() {
  return {portName(), [] { return std::make_unique<Win32SerialPort>(); }, ERROR_INVALID_HANDLE,
          ERROR_BUSY, ERROR_INVALID_PARAMETER};
}

namespace {

TEST(Win32SerialPortNames, EveryFormOfThePortNameOpens) {
  const std::string name = portName();
  for (const std::string& form : {name, name + ":", "\\\\.\\" + name}) {
    Win32SerialPort port;
    EXPECT_TRUE(port.open(form)) << form << ": " << port.lastError().text;
    EXPECT_TRUE(port.isOpen()) << form;
    EXPECT_TRUE(port.configure(lineTimeouts)) << form << ": " << port.lastError().text;
    port.close();
    EXPECT_FALSE(port.isOpen()) << form;
  }
}

TEST(Win32SerialPortNames, UnknownPortIsNotFound) {
  Win32SerialPort port;
  EXPECT_FALSE(port.open("MORVA-NO-SUCH-PORT"));
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(port.lastError().number, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(port.lastError().cause, FailureCause::NotFound);
  EXPECT_FALSE(port.lastError().text.empty());
}

// With one event shared, the completion of one operation could be taken for the other's.
using Win32SerialPortEvents = testing::SerialPortContract;

TEST_F(Win32SerialPortEvents, WriteAndReadEachWaitOnAnEventOfTheirOwn) {
  const std::array<std::uint8_t, 1> wakeUp{ESC};
  ASSERT_TRUE(port->startWrite(wakeUp));
  const std::intptr_t writeEvent = port->waitHint().waitable;
  ASSERT_TRUE(finish().isCompleted());
  std::array<std::uint8_t, identificationSize> answer{};
  ASSERT_TRUE(port->startRead(answer));
  EXPECT_NE(writeEvent, -1);
  EXPECT_NE(port->waitHint().waitable, writeEvent);
  EXPECT_TRUE(finish().isCompleted());
}

TEST(Win32Errors, CausesAndTexts) {
  struct Case {
    unsigned long number;
    FailureCause openCause;
    bool gone;
  };
  for (Case c : {Case{ERROR_ACCESS_DENIED, FailureCause::Busy, true},
                 Case{ERROR_FILE_NOT_FOUND, FailureCause::NotFound, false},
                 Case{ERROR_PATH_NOT_FOUND, FailureCause::NotFound, false},
                 Case{ERROR_BROKEN_PIPE, FailureCause::Other, true},
                 Case{ERROR_GEN_FAILURE, FailureCause::Other, true},
                 Case{ERROR_INVALID_PARAMETER, FailureCause::Other, false}}) {
    EXPECT_EQ(portOpenCause(c.number), c.openCause) << c.number;
    EXPECT_EQ(meansDeviceGone(c.number), c.gone) << c.number;
    OsError e = win32Error(c.number, FailureCause::Other);
    EXPECT_EQ(e.number, static_cast<int>(c.number));
    ASSERT_FALSE(e.text.empty()) << c.number;
    EXPECT_NE(e.text.back(), '\n') << c.number;
    EXPECT_NE(e.text.back(), '.') << c.number;
  }
}

}  // namespace
}  // namespace morva
