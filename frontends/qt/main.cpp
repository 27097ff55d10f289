// morva: the desktop program that moves firmware, fixture libraries and user data between
// the PC and the Vk350 Morva.
#include <QApplication>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "frontends/qt/front_end.h"
#include "frontends/qt/options.h"
#include "frontends/qt/qt_canvas.h"
#include "frontends/qt/screenshot.h"
#include "platform/posix/file_service.h"
#include "platform/posix/port_lister.h"
#include "platform/posix/serial_port.h"
#include "platform/posix/standard_descriptors.h"
#include "sim/simulator.h"
#include "transfer/version.h"

namespace {

bool wantsScreenshot(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind("--screenshot", 0) == 0) return true;
  return false;
}

// --help and --version are answered before the toolkit starts, which needs a display.
std::optional<int> answeredWithoutDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << morva::qt::guiUsageText();
      return 0;
    }
    if (arg == "--version") {
      std::cout << "morva " << morva::versionNumber() << '\n';
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace morva;
  if (!fillClosedStandardDescriptors()) return 1;
  if (const auto status = answeredWithoutDisplay(argc, argv)) return *status;
  // The screenshot needs no display.
  if (wantsScreenshot(argc, argv) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("morva");
  // The desktop entry the package installs (packaging/org.morva.Morva.desktop): a Wayland
  // desktop matches the window to its menu entry and icon by this name.
  QGuiApplication::setDesktopFileName("org.morva.Morva");
  qt::installFontSubstitutes();

  std::vector<std::string> args;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
  const qt::GuiParse parsed = qt::parseGuiOptions(args);
  if (!parsed.options) {
    std::cerr << "morva: " << parsed.error << "\n\n" << qt::guiUsageText();
    return 2;
  }
  const qt::GuiOptions& options = *parsed.options;

  PosixSerialPort port;
  PosixFileService files;
  std::unique_ptr<sim::Simulator> simulator;
  if (options.simulate || !options.screenshot.empty()) {
    try {
      simulator = std::make_unique<sim::Simulator>();
    } catch (const std::exception& e) {
      std::cerr << "morva: no simulated Vk350: " << e.what() << '\n';
      return 1;
    }
  }
  if (!options.screenshot.empty())
    return qt::renderScreenshot(simulator->portPath(), options.screenshot, port, files);

  // A log that cannot serve is refused before the window shows, not at the first session's end.
  SessionLog log;
  if (std::string why; !options.log.empty() && !log.open(files, options.log, why)) {
    std::cerr << "morva: --log " << options.log << ": " << why << '\n';
    return 2;
  }

  ProgramOptions programOptions;
  programOptions.files = &files;
  if (log.isOpen()) programOptions.log = &log;
  programOptions.extraPorts = options.ports;
  if (simulator) {
    programOptions.extraPorts.push_back(simulator->portPath());
    programOptions.simulatedPort = simulator->portPath();
  }
  programOptions.executableDir = QApplication::applicationDirPath().toStdString();
  PosixPortLister lister;
  qt::QtDialogs dialogs;
  qt::FrontEnd frontEnd(dialogs, port, lister, programOptions);
  return frontEnd.run();
}
