// Opening the selected port, finding the device by its probe, and making a port ready before
// a transfer.
#include <algorithm>
#include <optional>
#include <span>

#include "link/link.h"
#include "transfer/frames.h"

namespace morva {
namespace {

Message warning(std::string text, std::string detail) {
  Message message;
  message.text = std::move(text);
  message.caption = "Warning";
  message.icon = Icon::Warning;
  message.detail = std::move(detail);
  return message;
}

bool indexListed(const LinkPort& link) {
  return link.portIndex >= 0 &&
         static_cast<std::size_t>(link.portIndex) < link.portNameTable.size();
}

// Opens and configures the selected port; on failure the box that says why, no port open.
std::optional<Message> openQuietly(LinkPort& link) {
  if (link.port == nullptr) return warning("Port open error !", "No serial port driver.");
  SerialPort& port = *link.port;
  if (port.isOpen()) port.close();  // one port at a time
  if (!indexListed(link))
    return warning("Port open error !", link.portNameTable.empty() ? "No serial port is listed."
                                                                   : "No port is selected.");
  const std::string& name = link.portNameTable[static_cast<std::size_t>(link.portIndex)];
  if (!port.open(name))
    return warning("Port open error !", describeFailure(name, port.lastError()));
  if (!port.configure(lineTimeouts)) {
    Message message =
        warning("Port configuration error !", describeFailure(name, port.lastError()));
    port.close();  // left open, the port could not be opened again in this run
    return message;
  }
  link.lineQuiet = false;  // whatever the device was doing, nobody has asked it yet
  return std::nullopt;
}

// Sends the probe and starts reading the answer; false when the port refuses either.
bool sendProbe(LinkPort& link) {
  SerialPort& port = *link.port;
  port.purge();
  link.bytesRead = 0;
  return port.transmitPriority(ESC) &&
         port.startRead(std::span(link.ioBuffer).first<identificationSize>());
}

// Where the probe's answer stands, asked once: answered (true) or not (false), or none while it
// is still due. Only its length and final ACK count: the probe asks whether a device is there,
// and each transfer's handshake checks the reply whole. The port's own read time-outs end a
// silent probe after 720 ms; `deadline` only guards against a driver that never ends the read.
std::optional<bool> probeSettled(LinkPort& link, Clock::time_point deadline,
                                 const TimeSource& now) {
  SerialPort& port = *link.port;
  const PollResult result = port.poll();
  if (result.isCompleted()) {
    link.bytesRead = static_cast<std::uint32_t>(result.count);
    link.lineQuiet = result.count == identificationSize && link.ioBuffer[5] == ACK;
    return link.lineQuiet;
  }
  if (result.isFailed()) return false;
  if (now() < deadline) return std::nullopt;
  port.purge();  // the read must not land in ioBuffer later
  return false;
}

bool probeAnswered(LinkPort& link, const TimeSource& now) {
  if (!sendProbe(link)) return false;
  const Clock::time_point deadline = now() + probeDeadline;
  for (;;) {
    if (const std::optional<bool> answered = probeSettled(link, deadline, now)) return *answered;
    link.port->waitForProgress(std::min(link.port->waitHint().deadline, deadline));
  }
}

SearchResult foundOn(const LinkPort& link) {
  SearchResult search;
  search.found = true;
  std::copy_n(link.ioBuffer.begin(), search.versions.size(), search.versions.begin());
  return search;
}

}  // namespace

PortOpening openSelectedPort(LinkPort& link, Operator& op, bool silent) {
  std::optional<Message> failure = openQuietly(link);
  if (!failure) return PortOpening::Opened;
  if (!silent) op.showMessage(*failure);
  return PortOpening::Failed;
}

SearchResult detectDevice(LinkPort& link, const TimeSource& now) {
  if (link.portOpen()) link.port->close();
  SearchResult search;
  for (std::size_t i = 0; i < link.portNameTable.size(); ++i) {
    link.portIndex = static_cast<int>(i);
    if (const std::optional<Message> refused = openQuietly(link)) {
      search.report.push_back(refused->detail);
      continue;
    }
    if (probeAnswered(link, now)) {
      SearchResult found = foundOn(link);
      found.report = std::move(search.report);
      return found;
    }
    search.report.push_back(link.portNameTable[i] + ": no answer from a Vk350");
    link.port->close();
  }
  return search;
}

std::vector<SearchResult> probeEach(const std::vector<LinkPort*>& links, const Waiter& wait,
                                    const TimeSource& now) {
  std::vector<SearchResult> results(links.size());
  std::vector<bool> due(links.size(), false);
  for (std::size_t i = 0; i < links.size(); ++i) {
    LinkPort& link = *links[i];
    const std::string& name = link.portNameTable.at(static_cast<std::size_t>(link.portIndex));
    if (const std::optional<Message> refused = openQuietly(link))
      results[i].report.push_back(refused->detail);
    else if (sendProbe(link))
      due[i] = true;
    else
      results[i].report.push_back(describeFailure(name, link.port->lastError()));
  }
  // One probe's time for all of them: the answers are read side by side.
  const Clock::time_point deadline = now() + probeDeadline;
  for (;;) {
    SessionLoop::Wait pending;
    pending.deadline = deadline;
    for (std::size_t i = 0; i < links.size(); ++i) {
      if (!due[i]) continue;
      LinkPort& link = *links[i];
      const std::optional<bool> answered = probeSettled(link, deadline, now);
      if (!answered) {
        const WaitHint hint = link.port->waitHint();
        if (hint.waitable >= 0) pending.waitables.push_back(hint.waitable);
        pending.deadline = std::min(pending.deadline, hint.deadline);
        continue;
      }
      due[i] = false;
      if (*answered) {
        results[i] = foundOn(link);
      } else {
        results[i].report.push_back(link.portNameTable[static_cast<std::size_t>(link.portIndex)] +
                                    ": no answer from a Vk350");
        link.port->close();
      }
    }
    if (std::find(due.begin(), due.end(), true) == due.end()) return results;
    wait(pending);
  }
}

PortReadiness reopenSelectedPort(LinkPort& link, Operator& op) {
  // Closing and opening the port again changes nothing on the line: it stays as quiet as the
  // last probe or exchange on it left it.
  const bool quiet = link.portOpen() && link.lineQuiet;
  if (link.portOpen()) link.port->close();
  if (openSelectedPort(link, op, false) != PortOpening::Opened) return PortReadiness::NoPort;
  // Otherwise a device an earlier session left mid-frame, or with an answer owed, may still
  // talk: let the line fall quiet before the WakeUp.
  if (!quiet) link.port->discardUntilQuiet(Clock::now() + quietLimit);
  link.lineQuiet = true;
  return PortReadiness::Ready;
}

PortReadiness reopenOrDetect(LinkPort& link, Operator& op, PortMenu& menu, const TimeSource& now) {
  if (reopenSelectedPort(link, op) == PortReadiness::Ready) return PortReadiness::Ready;
  // The selected port is given up; with nothing listed there is no item to untick.
  if (indexListed(link)) menu.setPortTick(link.portIndex, false);
  const SearchResult search = detectDevice(link, now);
  if (search.found) {
    menu.setPortTick(link.portIndex, true);
    return PortReadiness::Ready;
  }
  op.showMessage(notFoundMessage(search));
  return PortReadiness::NoPort;
}

Message noPortMessage() {
  Message message;
  message.text = "No serial port available !";
  message.caption = "What a pity !";
  message.icon = Icon::Warning;
  message.owned = false;  // the main window does not exist yet
  return message;
}

Message notFoundMessage(const SearchResult& search) {
  Message message;
  message.text = "Vk350 not found !\nConnect and prepare device\nand try again.";
  message.caption = "A problem :";
  message.icon = Icon::Warning;
  for (const std::string& line : search.report)
    message.detail += (message.detail.empty() ? "" : "\n") + line;
  return message;
}

}  // namespace morva
