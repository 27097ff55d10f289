// The desktop program's shell, free of any toolkit: start-up and shutdown, the menu model, and
// the operator's commands, keys and menu highlights. The front end owns the window and the
// event loop; it calls in here and implements Desktop for the way back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/desktop.h"
#include "app/menu.h"
#include "app/session_operator.h"
#include "display/canvas.h"
#include "link/link.h"
#include "record/session_log_file.h"
#include "transfer/engine.h"
#include "transfer/file_service.h"
#include "transfer/link_port.h"
#include "transfer/operator.h"
#include "transfer/serial_port.h"
#include "transfer/session_loop.h"
#include "transfer/session_state.h"

namespace morva {

// The exit status when the machine lists no serial port at all.
inline constexpr int exitNoPort = -1;

struct ProgramOptions {
  std::vector<std::string> extraPorts;  // ports the lister cannot see (--port, the simulator)
  std::string simulatedPort;            // the simulated device's port, named so in the Port menu
  std::filesystem::path executableDir;  // the manual is looked up from here
  TimeSource now = Clock::now;          // the clock of the device search
  FileService* files = nullptr;         // the data files' OS service; the caller keeps it
  SessionLog* log = nullptr;            // every session's record goes here; the caller keeps it
};

// "Morva 1.0.0": the program's name and version.
std::string programVersionText();
// The About box: the program, its version and a closing line, with the information icon.
Message aboutMessage();
Message helpMissingMessage();

class Program : private PortMenu {
 public:
  Program(Desktop& desktop, SerialPort& port, PortLister& lister, ProgramOptions options = {});
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Start-up up to the event loop: the port list, the menus, the window shown, then one search
  // for the device ("Vk350 not found !" over the window when it does not answer). exitNoPort
  // when no port is listed: only the "No serial port available !" box was shown, no window.
  // 0 when the event loop may run.
  int start();
  // After the event loop: discards what is still queued on the port both ways, then closes it.
  void shutdown();

  // An item of `menu` at `position` is highlighted: the Action popup's kind entries choose the
  // data kind of the next Write, Read, Verify or Repeat.
  void menuSelect(MenuId menu, int position);
  // A character typed in the main window: Esc stops the transfer; every character repaints.
  void character(int code);
  // Runs menu command `number`. False for a number that names no command (nothing is done).
  bool command(int number);
  // The machine's ports changed while the program runs (a page was granted another one): the
  // port list and the Port menu are built again, the menus installed anew; the selected port
  // stays selected, and ticked if it was, and Repeat keeps its state.
  void portsChanged();

  // A menu of the window opened or closed (every one of them has). While one is open the
  // transfer goes on; a box the session must show waits until the menus have closed and the
  // front end calls showOwedBoxes(), and a verification holds before comparing a block, which
  // may have to ask.
  void menuShown(bool open) { sessionOperator_.setMenuOpen(open); }
  // Shows the boxes owed since a menu opened; the front end calls it once the menus have
  // closed, outside their own handling. A command or key shows them first too.
  void showOwedBoxes();

  // The step loop. The front end calls stepToPost when its queue is empty and posts the step
  // it gets; on delivery it calls runStep, and after Waiting waits on portWaitHint() and then
  // calls portReady(). A step delivered while a modal window is open is dropped (Ignored).
  std::optional<TransferStep> stepToPost(bool modalOpen);
  StepResult runStep(TransferStep step, bool modalOpen);
  void portReady() { loop_.wake(session_); }
  bool waitingOnPort() const { return loop_.waiting(session_); }
  // What to wait on while the session waits on the port: never later than the loop's longest
  // wait, so that the front end needs no limit of its own.
  WaitHint portWaitHint() const;

  const SessionState& state() const { return state_; }
  SessionState& state() { return state_; }
  const LinkPort& link() const { return link_; }
  LinkPort& link() { return link_; }
  const MenuTree& menus() const { return menus_; }
  const FontSpec& displayFont() const { return displayFont_; }

 private:
  void setPortTick(int portIndex, bool ticked) override;

  bool heldByMenu() const;
  // A session start returned: one that did not start is logged at once, one that did when it
  // ends (runStep notices).
  void started(StartResult result);
  void logSession();
  void showHelp();
  void startTransfer(Direction direction);
  void repeat();
  void stop();
  void endRunningSession();
  void chooseFont();
  void searchAgain();
  // One search of the ports, its port ticked, or "Vk350 not found !".
  void search();
  bool choosePort(int portIndex);
  void enableRepeat();

  Desktop& desktop_;
  SessionOperator sessionOperator_;  // what the sessions are given in place of the desktop
  PortLister& lister_;
  ProgramOptions options_;
  SessionState state_;
  LinkPort link_;
  MenuTree menus_;
  FontSpec displayFont_;
  SessionLoop loop_;
  SessionLoop::Id session_ = 0;
  std::chrono::system_clock::time_point sessionStart_;
};

}  // namespace morva
