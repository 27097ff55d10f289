#include "app/program.h"

#include <algorithm>

#include "app/commands.h"
#include "app/help.h"
#include "display/texts.h"
#include "transfer/version.h"

namespace morva {

namespace {

Message box(std::string text, std::string caption, Icon icon) {
  Message message;
  message.text = std::move(text);
  message.caption = std::move(caption);
  message.icon = icon;
  return message;
}

bool listed(const LinkPort& link, int portIndex) {
  return portIndex >= 0 && static_cast<std::size_t>(portIndex) < link.portNameTable.size();
}

}  // namespace

std::string programVersionText() {
  return "Morva " + std::string(versionNumber());
}

Message aboutMessage() {
  return box("Vk350 Morva communication program\n" + programVersionText() +
                 "\n\nKeep the Vk350 connected and powered until a transfer has ended.",
             "About", Icon::Information);
}

namespace {

// The box when a session's record could not go into the log of --log.
Message logFailure(const std::string& why) {
  Message message =
      box("The session's record could not be written into the log.", "Warning", Icon::Warning);
  message.detail = why;
  return message;
}

}  // namespace

Message helpMissingMessage() {
  return box("Sorry, help file is inaccessible at this time !", "No access !", Icon::Information);
}

Program::Program(Desktop& desktop, SerialPort& port, PortLister& lister, ProgramOptions options)
    : desktop_(desktop), sessionOperator_(desktop), lister_(lister), options_(std::move(options)) {
  link_.port = &port;
  state_.files = options_.files;
  session_ = loop_.add(state_, link_, sessionOperator_);
}

int Program::start() {
  state_.firmwareVersionText = "N/A";
  state_.secondVersionText = "N/A";
  link_.ioBuffer[0] = 0;
  buildPortList(link_, lister_, options_.extraPorts);
  if (link_.portNameTable.empty()) {
    desktop_.showMessage(noPortMessage());
    return exitNoPort;
  }
  std::vector<std::string> labels = link_.portNameTable;
  for (std::string& label : labels)
    if (!options_.simulatedPort.empty() && label == options_.simulatedPort)
      label = simulatedPortLabel(label);
  menus_ = buildMenuTree(labels);
  displayFont_ = FontSpec{};
  desktop_.installMenus(menus_);
  // The window is up before the search, which blocks the program while it probes; its
  // verdict then comes over the window.
  desktop_.showWindow();
  search();
  return 0;
}

void Program::shutdown() {
  if (!link_.portOpen()) return;
  link_.port->purge();
  link_.port->close();
}

void Program::menuSelect(MenuId menu, int position) {
  if (menu != MenuId::Action || position < firstKindPosition || position > lastKindPosition) return;
  state_.dataKind = static_cast<DataKind>(position - firstKindPosition);
}

void Program::showOwedBoxes() {
  if (!sessionOperator_.menuOpen()) sessionOperator_.showOwedBoxes();
}

void Program::character(int code) {
  showOwedBoxes();
  // Stop runs to its end before the repaint is asked for, so the paint sees step 0.
  if (code == escapeCharacter) command(CMD_STOP);
  desktop_.invalidate(Area::Window, true);
}

bool Program::command(int number) {
  // What the last session owes the operator comes before whatever the command does.
  showOwedBoxes();
  // Whatever the command does to the session, the next idle moment looks at it afresh.
  loop_.wake(session_);
  switch (number) {
    case CMD_HELP_CONTENTS:
      showHelp();
      return true;
    case CMD_ABOUT:
      desktop_.showMessage(aboutMessage());
      return true;
    case CMD_READ:
      startTransfer(Direction::ReadFromDevice);
      return true;
    case CMD_WRITE:
      startTransfer(Direction::WriteToDevice);
      return true;
    case CMD_VERIFY:
      startTransfer(Direction::Verify);
      return true;
    case CMD_STOP:
      stop();
      return true;
    case CMD_EXIT:
      desktop_.closeWindow();
      return true;
    case CMD_REPEAT:
      repeat();
      return true;
    case CMD_FONT:
      chooseFont();
      return true;
    case CMD_PORT_AUTO:
      searchAgain();
      return true;
    default:
      break;
  }
  if (number > CMD_PORT_AUTO) return choosePort(number - CMD_PORT_FIRST);
  return false;
}

void Program::portsChanged() {
  const bool selected = listed(link_, link_.portIndex);
  const std::string name = selected ? link_.portNameTable[link_.portIndex] : std::string();
  const bool ticked =
      selected &&
      menus_.port.items[static_cast<std::size_t>(portItemPosition(link_.portIndex))].checked;
  const bool repeatGrayed = menus_.action.items[repeatPosition].grayed;
  buildPortList(link_, lister_, options_.extraPorts);
  const auto& table = link_.portNameTable;
  const auto found = std::find(table.begin(), table.end(), name);
  link_.portIndex = found == table.end() ? 0 : static_cast<int>(found - table.begin());
  menus_ = buildMenuTree(table);
  menus_.action.items[repeatPosition].grayed = repeatGrayed;
  if (ticked && found != table.end())
    menus_.port.items[static_cast<std::size_t>(portItemPosition(link_.portIndex))].checked = true;
  desktop_.installMenus(menus_);
}

bool Program::heldByMenu() const {
  // A verification's comparison may ask whether to go on: that waits for the menus to close.
  return sessionOperator_.menuOpen() && stepMayAsk(state_);
}

std::optional<TransferStep> Program::stepToPost(bool modalOpen) {
  return loop_.stepToPost(session_, modalOpen || heldByMenu());
}

StepResult Program::runStep(TransferStep step, bool modalOpen) {
  // A step posted before a menu opened is dropped like one that meets a box.
  const StepResult result = loop_.deliver(session_, step, modalOpen || heldByMenu());
  if (result == StepResult::Advanced && !sessionRunning(state_.transferStep)) logSession();
  return result;
}

void Program::started(StartResult result) {
  if (result != StartResult::Started && result != StartResult::OutOfRange) logSession();
}

void Program::logSession() {
  if (options_.log == nullptr || state_.fileName.empty()) return;
  const std::string port = listed(link_, link_.portIndex)
                               ? link_.portNameTable[static_cast<std::size_t>(link_.portIndex)]
                               : std::string();
  const SessionRecord record = recordOf(state_, port, state_.fileName, sessionStart_,
                                        std::chrono::system_clock::now(), *state_.files);
  std::string why;
  if (!options_.log->append(record, why)) desktop_.showMessage(logFailure(why));
}

WaitHint Program::portWaitHint() const {
  const SessionLoop::Wait wait = loop_.nextWait();
  return WaitHint{wait.waitables.empty() ? -1 : wait.waitables.front(), wait.deadline};
}

void Program::setPortTick(int portIndex, bool ticked) {
  if (!listed(link_, portIndex)) return;
  menus_.port.items[static_cast<std::size_t>(portItemPosition(portIndex))].checked = ticked;
  desktop_.setPortTick(portIndex, ticked);
}

void Program::showHelp() {
  Message box = helpMissingMessage();
  if (const auto manual = findManual(options_.executableDir)) {
    if (desktop_.openHelp(manual->string())) return;
    box.detail = manual->string() + ": no program on this desktop would show it.";
  } else {
    box.detail = "The manual is in none of these places:";
    for (const auto& place : manualPlaces(options_.executableDir))
      box.detail += "\n" + place.string();
  }
  desktop_.showMessage(box);
}

void Program::startTransfer(Direction direction) {
  // The direction is taken even when no port can be made ready.
  state_.direction = direction;
  endRunningSession();
  if (reopenOrDetect(link_, desktop_, *this, options_.now) == PortReadiness::NoPort) return;
  sessionStart_ = std::chrono::system_clock::now();
  started(startSession(state_, link_, sessionOperator_));
  // A port was ready: Repeat has something to repeat, even if the file chooser was cancelled.
  enableRepeat();
}

void Program::repeat() {
  endRunningSession();
  if (reopenOrDetect(link_, desktop_, *this, options_.now) == PortReadiness::Ready) {
    sessionStart_ = std::chrono::system_clock::now();
    started(startSession(state_, link_, sessionOperator_, FileSource::LastFile));
  }
}

void Program::stop() {
  // Nothing goes to the device; the data file stays open until the next session reopens its
  // stream, so the blocks already read are kept.
  const bool running = sessionRunning(state_.transferStep);
  stopSession(state_, link_, sessionOperator_);
  if (running) logSession();
}

void Program::endRunningSession() {
  // A running session whose port is about to be closed under it would otherwise meet a dead
  // port at its next step and report a communication error; it ends quietly instead.
  if (sessionRunning(state_.transferStep)) stop();
}

void Program::chooseFont() {
  if (auto font = desktop_.chooseFont(displayFont_)) displayFont_ = *font;
  desktop_.invalidate(Area::Window, true);
}

void Program::searchAgain() {
  endRunningSession();
  if (link_.portOpen()) {
    link_.port->close();
    setPortTick(link_.portIndex, false);
  }
  search();
}

void Program::search() {
  const SearchResult found = detectDevice(link_, options_.now);
  if (found.found)
    setPortTick(link_.portIndex, true);
  else
    desktop_.showMessage(notFoundMessage(found));
}

bool Program::choosePort(int portIndex) {
  if (!listed(link_, portIndex)) return false;
  endRunningSession();
  if (link_.portOpen()) link_.port->close();
  setPortTick(link_.portIndex, false);
  link_.portIndex = portIndex;
  // A port chosen by hand is taken as soon as it opens; the device is not asked.
  if (openSelectedPort(link_, desktop_, false) == PortOpening::Opened) setPortTick(portIndex, true);
  return true;
}

void Program::enableRepeat() {
  MenuItem& repeatItem = menus_.action.items[repeatPosition];
  if (!repeatItem.grayed) return;
  repeatItem.grayed = false;
  desktop_.setRepeatEnabled(true);
}

}  // namespace morva
