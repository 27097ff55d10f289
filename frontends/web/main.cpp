// The page's engine: the program of the desktop shell over the browser's ports, files and
// canvas, called from the page's JavaScript. Each entry runs to its end before the next is
// made (the page queues them); one that shows a box or a chooser is suspended meanwhile and
// resumed with the answer, so the page never blocks.
#include <emscripten.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/help.h"
#include "app/program.h"
#include "display/paint.h"
#include "frontends/web/simulated_line.h"
#include "frontends/web/web_canvas.h"
#include "frontends/web/web_desktop.h"
#include "link/link.h"
#include "platform/web/browser.h"
#include "platform/web/browser_line.h"
#include "platform/web/file_service.h"
#include "platform/web/port_lister.h"
#include "platform/web/web_serial_port.h"

namespace morva::web {
namespace {

// Sorts after every name the browser's ports get ("Serial port", "USB 0403:6001"), so that the
// search finds a real device first.
constexpr const char* simulatedPortName = "Vk350 (simulated)";
// The manual is served beside the page; the shell looks for it beside its "executable".
constexpr const char* pageFolder = "/morva";

struct Page {
  SimulatedDevice simulated;
  WebSerialPort port{[this](const std::string& name) { return lineFor(name); }};
  WebPortLister lister;
  WebFileService files;
  WebDesktop desktop;
  WebCanvas canvas;
  std::unique_ptr<Program> program;
  bool wasRunning = false;

  std::unique_ptr<SerialLine> lineFor(const std::string& name) {
    if (name == simulatedPortName)
      return std::make_unique<SimulatedLine>(
          simulated, [] { return Clock::now(); },
          [](Clock::time_point until) {
            const double ms =
                browser::toMilliseconds(until) - browser::toMilliseconds(Clock::now());
            emscripten_sleep(static_cast<unsigned>(ms > 0 ? ms + 1 : 0));
          });
    return std::make_unique<BrowserLine>(name);
  }

  // A session that has ended hands its target to the browser now: a page has no process end
  // at which a file left open would be written out, and a person who stopped a read expects
  // the blocks read so far, as on the desktop.
  void settle() {
    SessionState& state = program->state();
    // However a session ended (a failure's box, Stop, the last block), its lines go at once.
    const bool running = sessionRunning(state.transferStep);
    if (wasRunning && !running) desktop.invalidate(Area::Window, true);
    wasRunning = running;
    if (running || !state.targetFile.isOpen()) return;
    if (state.targetFile.close()) return;
    Message box;
    box.text = "File write error !";
    box.caption = "Fail";
    box.icon = Icon::Error;
    box.detail = describeFailure(state.fileName, state.targetFile.lastError());
    desktop.showMessage(box);
  }
};

Page* page = nullptr;

char* copyOut(const std::string& text) {
  char* out = static_cast<char*>(std::malloc(text.size() + 1));
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = '\0';
  return out;
}

}  // namespace
}  // namespace morva::web

using morva::web::page;

extern "C" {

// Start-up: the port list (the granted ports and the simulated device), the menus, the window,
// then the search for the device. With no port granted the page says so and goes on: the
// person may add one from the Port menu, and the simulated device is there meanwhile.
EMSCRIPTEN_KEEPALIVE int morva_start() {
  using namespace morva;
  page = new web::Page;
  std::filesystem::create_directories(web::pageFolder);
  std::ofstream(std::string(web::pageFolder) + "/" + manualFileName) << "served beside the page\n";
  ProgramOptions options;
  options.extraPorts = {web::simulatedPortName};
  options.executableDir = web::pageFolder;
  options.files = &page->files;
  page->program = std::make_unique<Program>(page->desktop, page->port, page->lister, options);
  if (page->lister.listPorts().empty()) {
    Message box = noPortMessage();
    box.detail =
        "Port > Add a port... lets this page use one. The simulated Vk350 is listed meanwhile.";
    page->desktop.showMessage(box);
  }
  return page->program->start();
}

EMSCRIPTEN_KEEPALIVE int morva_command(int number) {
  const bool known = page->program->command(number);
  page->settle();
  return known ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void morva_character(int code) {
  page->program->character(code);
  page->settle();
}

EMSCRIPTEN_KEEPALIVE void morva_menu_select(int menu, int position) {
  page->program->menuSelect(static_cast<morva::MenuId>(menu), position);
}

// One step of the session, when one is due: 0 none is, 1 it ran, 2 it waits on the port.
EMSCRIPTEN_KEEPALIVE int morva_step() {
  using morva::StepResult;
  const auto step = page->program->stepToPost(false);
  if (!step) return 0;
  const StepResult result = page->program->runStep(*step, false);
  page->settle();
  return result == StepResult::Waiting ? 2 : 1;
}

// When the waiting session should be looked at again though the port said nothing, in the
// browser's milliseconds; -1 for never.
EMSCRIPTEN_KEEPALIVE double morva_wait_until() {
  const morva::WaitHint hint = page->program->portWaitHint();
  if (hint.deadline == morva::Clock::time_point::max()) return -1;
  return morva::browser::toMilliseconds(hint.deadline);
}

EMSCRIPTEN_KEEPALIVE void morva_port_ready() {
  page->program->portReady();
}

EMSCRIPTEN_KEEPALIVE void morva_ports_changed() {
  page->program->portsChanged();
}

EMSCRIPTEN_KEEPALIVE int morva_ended() {
  return page->desktop.ended() ? 1 : 0;
}

// Exit: what is queued on the port is discarded and the port let go.
EMSCRIPTEN_KEEPALIVE void morva_shutdown() {
  page->program->shutdown();
}

EMSCRIPTEN_KEEPALIVE void morva_paint(int outerWidth, int outerHeight, int clientWidth,
                                      int hasPicture) {
  if (page == nullptr || !page->program) return;  // nothing is shown before the start
  const morva::WindowGeometry geometry{outerWidth, outerHeight, clientWidth};
  morva::paintMainWindow(page->canvas, page->program->state(), geometry,
                         {page->program->displayFont(), hasPicture != 0},
                         page->desktop.lineRects());
}

// The texts of the last paint, one "x y text" a line: what the window shows, for the tests.
EMSCRIPTEN_KEEPALIVE char* morva_painted_lines() {
  std::string lines;
  for (const std::string& line : page->canvas.texts()) lines += line + "\n";
  return morva::web::copyOut(lines);
}

// The port in use is the simulated device: the page marks the window so.
EMSCRIPTEN_KEEPALIVE int morva_simulated_in_use() {
  const morva::LinkPort& link = page->program->link();
  return link.portOpen() && link.portIndex >= 0 &&
                 static_cast<std::size_t>(link.portIndex) < link.portNameTable.size() &&
                 link.portNameTable[static_cast<std::size_t>(link.portIndex)] ==
                     morva::web::simulatedPortName
             ? 1
             : 0;
}

EMSCRIPTEN_KEEPALIVE int morva_transfer_step() {
  return morva::stepNumber(page->program->state().transferStep);
}

}  // extern "C"
