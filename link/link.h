// The serial link: the port list, opening the selected port, finding the device by its probe,
// and making a port ready before each transfer.
#pragma once

#include <string>
#include <vector>

#include "link/port_lister.h"
#include "transfer/clock.h"
#include "transfer/link_port.h"
#include "transfer/operator.h"
#include "transfer/session_state.h"
#include "transfer/timeouts.h"

namespace morva {

// The link's answers, with the system's own numbers.
enum class PortOpening : int { Opened = 0, Failed = -2 };   // openSelectedPort
enum class DeviceSearch : int { NotFound = 0, Found = 1 };  // detectDevice
enum class PortReadiness : int { NoPort = 0, Ready = 1 };   // reopenOrDetect

// Fills portNameTable with the lister's ports and `extraPorts` (paths that cannot be listed),
// without duplicates, sorted with comparePortNames; sets portIndex and repeatRequested to 0.
void buildPortList(LinkPort& link, SessionState& state, PortLister& lister,
                   const std::vector<std::string>& extraPorts = {});

// Character by character without regard to case: "COM10" sorts before "COM2".
int comparePortNames(const std::string& a, const std::string& b);

// Opens and configures the port at portIndex: Opened, or Failed after "Port open error !" or
// "Port configuration error !" unless silent (the port is then closed).
PortOpening openSelectedPort(LinkPort& link, Operator& op, bool silent);

// Probes every listed port in order; Found when the device answered (that port stays open and
// is ticked), NotFound when not (no port open, portIndex at the last port tried). Each probe
// waits on the port, never spinning, and gives up `probeDeadline` after its read started.
DeviceSearch detectDevice(LinkPort& link, PortMenu& menu, const TimeSource& now = Clock::now);

// Reopens the selected port, showing why when it cannot be opened: for a session that must
// reach the same device as the one before it. Never searches the other ports.
PortReadiness reopenSelectedPort(LinkPort& link, Operator& op);

// Reopens the selected port with messages; when that fails, unticks it and searches all ports,
// showing notFoundMessage(link) if the search fails too. Ready when a port is open.
PortReadiness reopenOrDetect(LinkPort& link, Operator& op, PortMenu& menu,
                             const TimeSource& now = Clock::now);

// The box the callers show when the search found nothing; its detail says what the last search
// met on each port (an OS refusal with its advice, or no answer).
Message notFoundMessage(const LinkPort& link);
// The box shown when the machine lists no serial port at all (before any window exists).
Message noPortMessage();

}  // namespace morva
