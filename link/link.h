// The serial link: the port list, opening the selected port, finding the device by its probe,
// and making a port ready before each transfer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/port_lister.h"
#include "transfer/clock.h"
#include "transfer/link_port.h"
#include "transfer/operator.h"
#include "transfer/session_loop.h"
#include "transfer/timeouts.h"

namespace morva {

// The link's answers, with the system's own numbers.
enum class PortOpening : int { Opened = 0, Failed = -2 };  // openSelectedPort
enum class PortReadiness : int { NoPort = 0, Ready = 1 };  // reopenOrDetect

// Fills portNameTable with the lister's ports and `extraPorts` (paths that cannot be listed),
// without duplicates, sorted with comparePortNames; sets portIndex to 0.
void buildPortList(LinkPort& link, PortLister& lister,
                   const std::vector<std::string>& extraPorts = {});

// Character by character without regard to case: "COM10" sorts before "COM2".
int comparePortNames(const std::string& a, const std::string& b);

// Opens and configures the port at portIndex: Opened, or Failed after "Port open error !" or
// "Port configuration error !" unless silent (the port is then closed).
PortOpening openSelectedPort(LinkPort& link, Operator& op, bool silent);

// What a device search met: whether the device answered (on link.portIndex, which stays
// open), the versions it identified itself with, and what each port it tried gave instead.
struct SearchResult {
  bool found = false;
  std::array<std::uint8_t, 4> versions{};  // major and minor of each pair, as received
  std::vector<std::string> report;         // "NAME: why", per port that did not answer
};

// Probes every listed port in order; found when the device answered (that port stays open),
// not when not (no port open, portIndex at the last port tried). The caller ticks the port.
// Each probe waits on the port, never spinning, and gives up `probeDeadline` after its read
// started.
SearchResult detectDevice(LinkPort& link, const TimeSource& now = Clock::now);

// Reopens the selected port, showing why when it cannot be opened: for a session that must
// reach the same device as the one before it. Never searches the other ports.
PortReadiness reopenSelectedPort(LinkPort& link, Operator& op);

// Reopens the selected port with messages; when that fails, unticks it and searches all ports,
// showing notFoundMessage(link) if the search fails too. Ready when a port is open.
PortReadiness reopenOrDetect(LinkPort& link, Operator& op, PortMenu& menu,
                             const TimeSource& now = Clock::now);

// Sleeps until one of the waitables has news or the deadline comes (platform/waiting.h).
using Waiter = std::function<void(const SessionLoop::Wait&)>;

// Probes the selected port of each link, all at once, as detectDevice probes one: the whole
// search takes one probe's time however many ports there are. Each link has its own port; the
// ones whose device answered stay open. One result per link, in their order.
std::vector<SearchResult> probeEach(const std::vector<LinkPort*>& links, const Waiter& wait,
                                    const TimeSource& now = Clock::now);

// The box the callers show when the search found nothing; its detail says what the search met
// on each port (an OS refusal with its advice, or no answer).
Message notFoundMessage(const SearchResult& search);
// The box shown when the machine lists no serial port at all (before any window exists).
Message noPortMessage();

}  // namespace morva
