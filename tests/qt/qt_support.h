// What the GUI tests share: the application object on the offscreen platform, dialogs that
// answer from a script, and an event loop run until a condition holds.
#pragma once

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QFont>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frontends/qt/dialogs.h"
#include "frontends/qt/qt_canvas.h"
#include "tests/support/recording_operator.h"
#include "transfer/operator.h"

namespace morva::testing {

inline void ensureApplication() {
  if (QApplication::instance() != nullptr) return;
  // The toolkit's own settings (a file chooser keeps its folder and column widths) go to a
  // folder of this run: nothing is read from or left in the user's configuration.
  static QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "morva_qt_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the test program
  QApplication::setQuitOnLastWindowClosed(false);
  // The same face on every machine, whatever its font configuration picks for "monospace".
  QFont::insertSubstitution("Fixedsys", "DejaVu Sans Mono");
  qt::installFontSubstitutes();
}

struct ShownMessage {
  Message message;
  QWidget* owner;
};

class ScriptedDialogs : public qt::Dialogs {
 public:
  std::vector<ShownMessage> shown;
  std::deque<Answer> answers;  // for questions; the default button when empty
  std::deque<std::optional<FileChoice>> files;
  std::vector<FileRequest> fileRequests;
  std::function<void(const Message&)> onMessage;

  Answer showMessage(QWidget* owner, const Message& message) override {
    shown.push_back({message, owner});
    if (onMessage) onMessage(message);
    return scriptedAnswer(message, answers);
  }
  std::optional<FileChoice> chooseFile(QWidget*, const FileRequest& request) override {
    fileRequests.push_back(request);
    return nextOf(files);
  }
  std::optional<FontSpec> chooseFont(QWidget*, const FontSpec&) override { return std::nullopt; }
  bool openHelp(const std::string&) override { return false; }

  std::vector<std::string> texts() const {
    std::vector<std::string> t;
    for (const auto& s : shown) t.push_back(s.message.caption + ": " + s.message.text);
    return t;
  }
};

// Runs a real event loop (the only kind that lets the dispatcher go idle) until `done` holds,
// looking every few milliseconds; false when `limit` passed first (a hang guard only).
inline bool runUntil(const std::function<bool()>& done, int limitMs = 60000) {
  if (done()) return true;
  QEventLoop loop;
  QTimer check;
  check.setInterval(5);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
  check.start();
  loop.exec();
  return done();
}

}  // namespace morva::testing
