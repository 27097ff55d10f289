#include "frontends/qt/screenshot.h"

#include <QAction>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>
#include <iostream>

#include "app/commands.h"
#include "frontends/qt/front_end.h"

namespace morva::qt {

namespace {

// Answers the file chooser with the generated image and every box with its default button.
class ScriptedDialogs : public Dialogs {
 public:
  explicit ScriptedDialogs(std::string file) : file_(std::move(file)) {}
  Answer showMessage(QWidget*, const Message& message) override {
    std::cerr << "morva: " << message.caption << " " << message.text << '\n';
    if (message.buttons == Buttons::Ok) return Answer::Ok;
    return message.secondIsDefault ? Answer::No : Answer::Yes;
  }
  std::optional<FileChoice> chooseFile(QWidget*, const FileRequest&) override {
    return FileChoice{file_, false};
  }
  std::optional<FontSpec> chooseFont(QWidget*, const FontSpec&) override { return std::nullopt; }
  bool openHelp(const std::string&) override { return false; }

 private:
  std::string file_;
};

bool writeImage(const QString& path) {
  QByteArray image(128 * 1024, '\0');
  for (int i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 31 + i / 256) & 0xff);
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(image) == image.size();
}

}  // namespace

int renderScreenshot(const std::string& simulatorPort, const std::string& file, SerialPort& port,
                     FileService& files, int block) {
  QTemporaryDir folder;
  const QString image = folder.filePath("firmware.upg");
  if (!folder.isValid() || !writeImage(image)) {
    std::cerr << "morva: cannot prepare the firmware image\n";
    return 1;
  }
  ScriptedDialogs dialogs(image.toStdString());
  NoPortLister lister;
  ProgramOptions options;
  options.extraPorts = {simulatorPort};
  options.files = &files;
  FrontEnd frontEnd(dialogs, port, lister, options);
  if (frontEnd.start() != 0) return 1;
  MainWindow& window = frontEnd.window();
  window.resize(640, 498 + window.menuBar()->sizeHint().height());

  // As the operator would: highlight "&Program", then choose "&Write to Vk350" from it.
  window.itemAction(MenuId::Action, firstKindPosition)->hover();
  window.commandAction(CMD_WRITE)->trigger();

  bool written = false;
  QEventLoop loop;
  const SessionState& state = frontEnd.program().state();
  QObject::connect(&frontEnd.driver(), &StepDriver::stepped, &loop, [&] {
    if (state.transferStep != TransferStep::SendCommand ||
        state.currentBlock - state.firstBlock < block)
      return;
    written = window.grab().toImage().save(QString::fromStdString(file), "PNG");
    loop.quit();
  });
  QObject::connect(&window, &MainWindow::closed, &loop, &QEventLoop::quit);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  if (sessionRunning(state.transferStep)) loop.exec();

  frontEnd.program().command(CMD_STOP);
  frontEnd.program().shutdown();
  if (!written) std::cerr << "morva: the screenshot could not be taken\n";
  return written ? 0 : 1;
}

}  // namespace morva::qt
