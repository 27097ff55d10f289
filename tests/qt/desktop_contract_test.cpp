// The desktop contract over the Qt program offscreen: its menus' actions hovered and
// triggered, keys sent to its window, and its own event loop with the idle step driver.
#include "tests/support/desktop_contract.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "frontends/qt/front_end.h"
#include "platform/posix/file_service.h"
#include "tests/qt/qt_support.h"

namespace morva::testing {
namespace {

// Counts the paints of the widget it watches.
class PaintCount : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

class QtShell : public DesktopShell {
 public:
  QtShell(SerialPort& port, PortLister& lister) {
    ensureApplication();
    ProgramOptions options;
    options.files = &files_;
    frontEnd_.emplace(dialogs_, port, lister, options);
    dialogs_.onMessage = [this](const Message& m) {
      boxes_.push_back({m, dialogs_.shown.back().owner == &window(), window().isVisible()});
    };
    window().client()->installEventFilter(&paintCount_);
  }

  int start() override { return frontEnd_->start(); }
  int run(const std::function<void()>& inLoop) override {
    QTimer::singleShot(0, inLoop);
    return frontEnd_->run();
  }
  Program& program() override { return frontEnd_->program(); }

  void highlight(MenuId menu, int position) override {
    QMenuBar* bar = window().menuBar();
    QAction* item = menu == MenuId::Bar ? bar->actions().at(position)
                                        : window().itemAction(menu, position);
    ASSERT_NE(item, nullptr);
    item->hover();
    // The menu the kinds' popup opened from hears of the popup's items too.
    if (menu == MenuId::Choice) emit window().menu(MenuId::Action)->hovered(item);
  }
  void command(int number) override { window().commandAction(number)->trigger(); }
  void character(int code) override { QTest::keyClick(&window(), static_cast<char>(code)); }

  bool runUntil(const std::function<bool()>& done) override {
    return testing::runUntil(done, 30000);
  }
  UnderMenu runUnderOpenMenu(const std::function<bool()>& done) override {
    QMenu* action = window().menu(MenuId::Action);
    action->popup(QPoint(10, 10));
    runUntil(done);
    const UnderMenu seen{action->isVisible(), boxes_.size()};
    action->hide();
    return seen;
  }

  bool windowShown() override { return window().isVisible(); }
  bool portTicked(int portIndex) override {
    return window().itemAction(MenuId::Port, portItemPosition(portIndex))->isChecked();
  }
  bool repeatEnabled() override { return window().commandAction(CMD_REPEAT)->isEnabled(); }
  // Paints what is owed now, so that only what is asked from here on counts.
  void forgetRepaints() override {
    window().client()->repaint();
    paintCount_.paints = 0;
  }
  bool repaintAsked() override {
    return testing::runUntil([this] { return paintCount_.paints > 0; }, 10000);
  }

  const std::vector<ShownBox>& boxes() override { return boxes_; }
  const std::vector<FileRequest>& fileRequests() override { return dialogs_.fileRequests; }
  void offerFile(const std::string& path) override {
    dialogs_.files.push_back(FileChoice{path, false});
  }

 private:
  qt::MainWindow& window() { return frontEnd_->window(); }

  ScriptedDialogs dialogs_;
  PosixFileService files_;
  PaintCount paintCount_;
  std::optional<qt::FrontEnd> frontEnd_;
  std::vector<ShownBox> boxes_;
};

}  // namespace

std::unique_ptr<DesktopShell> makeShell(SerialPort& port, PortLister& lister) {
  return std::make_unique<QtShell>(port, lister);
}

}  // namespace morva::testing
