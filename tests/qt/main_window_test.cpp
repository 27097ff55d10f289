#include <gtest/gtest.h>

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <optional>

#include "app/commands.h"
#include "frontends/qt/front_end.h"
#include "platform/posix/file_service.h"
#include "tests/qt/qt_support.h"
#include "tests/support/files.h"
#include "tests/support/scripted_machine.h"
#include "transfer/frames.h"

namespace morva::testing {
namespace {

class MainWindowTest : public ::testing::Test, protected ScriptedMachine {
 protected:
  ScriptedDialogs dialogs;
  PosixFileService files;
  std::optional<qt::FrontEnd> frontEnd;

  void SetUp() override {
    ensureApplication();
    devicesOn = {"/dev/ttyUSB0"};
  }

  int start(std::vector<std::string> ports = {"/dev/ttyUSB0", "/dev/ttyUSB1"}) {
    lister.names = std::move(ports);
    ProgramOptions options;
    options.files = &files;
    frontEnd.emplace(dialogs, port, lister, options);
    return frontEnd->start();
  }
  qt::MainWindow& window() { return frontEnd->window(); }
  Program& program() { return frontEnd->program(); }
};

QString qtText(const std::string& s) {
  return QString::fromStdString(s);
}

// Notes the keys that reach the widget it watches, whoever they were sent to.
class KeyWatch : public QObject {
 public:
  explicit KeyWatch(std::vector<int>& keys) : keys_(keys) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) keys_.push_back(static_cast<QKeyEvent*>(event)->key());
    return false;
  }

 private:
  std::vector<int>& keys_;
};

TEST_F(MainWindowTest, MenuBarMirrorsTheModel) {
  ASSERT_EQ(start(), 0);
  const MenuTree& model = program().menus();
  const QList<QAction*> bar = window().menuBar()->actions();
  ASSERT_EQ(bar.size(), static_cast<qsizetype>(model.bar.items.size()));
  for (qsizetype i = 0; i < bar.size(); ++i) {
    const MenuItem& entry = model.bar.items[static_cast<std::size_t>(i)];
    EXPECT_EQ(bar[i]->text(), qtText(entry.text));
    QMenu* popup = bar[i]->menu();
    ASSERT_EQ(popup, window().menu(entry.popup));
    const Menu& menu = model.menu(entry.popup);
    const QList<QAction*> items = popup->actions();
    ASSERT_EQ(items.size(), static_cast<qsizetype>(menu.items.size())) << entry.text;
    for (std::size_t p = 0; p < menu.items.size(); ++p) {
      SCOPED_TRACE(entry.text + " position " + std::to_string(p));
      const MenuItem& item = menu.items[p];
      QAction* action = items[static_cast<qsizetype>(p)];
      EXPECT_EQ(action->isSeparator(), item.type == MenuItem::Type::Separator);
      EXPECT_EQ(action->text(), qtText(item.text));
      EXPECT_EQ(action->isEnabled(), !item.grayed);
      EXPECT_EQ(action->isChecked(), item.checked);
      if (item.type == MenuItem::Type::Command) {
        EXPECT_EQ(window().commandAction(item.command), action);
      }
    }
  }
  // One popup under the three kind entries.
  QMenu* choice = window().menu(MenuId::Choice);
  ASSERT_NE(choice, nullptr);
  for (int position : {2, 3, 4})
    EXPECT_EQ(window().itemAction(MenuId::Action, position)->menu(), choice);
  EXPECT_EQ(choice->actions().size(), 3);
  EXPECT_EQ(choice->actions()[0]->text(), "&Write to Vk350");
  // The device answered on the first port at start-up.
  EXPECT_TRUE(window().itemAction(MenuId::Port, 1)->isChecked());
  EXPECT_FALSE(window().itemAction(MenuId::Port, 2)->isChecked());
  EXPECT_TRUE(window().isVisible());
  EXPECT_EQ(window().windowTitle(), "Vk350 Morva communication program");
}

// The box of a start without ports comes before the window exists, carrying the program's
// icon all the same.
TEST_F(MainWindowTest, TheBoxBeforeTheWindowCarriesTheProgramsIcon) {
  lister.names.clear();
  frontEnd.emplace(dialogs, port, lister, ProgramOptions{});
  ASSERT_EQ(frontEnd->run(), exitNoPort);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  const QIcon boxIcon = qt::makeMessageBox(dialogs.shown[0].message, nullptr)->windowIcon();
  EXPECT_EQ(boxIcon.cacheKey(), window().windowIcon().cacheKey());
  EXPECT_TRUE(boxIcon.availableSizes().contains(QSize(16, 16)));
}

TEST_F(MainWindowTest, SharedPopupClosesWhenAnotherKindEntryIsHighlighted) {
  ASSERT_EQ(start(), 0);
  QMenu* choice = window().menu(MenuId::Choice);
  choice->popup(QPoint(10, 10));
  ASSERT_TRUE(choice->isVisible());
  window().itemAction(MenuId::Action, 4)->hover();
  EXPECT_FALSE(choice->isVisible());
  EXPECT_EQ(program().state().dataKind, DataKind::UserData);
}

// Keys and clicks here go through the platform's routing, as a person's do: the focus, the open
// popups and the shortcuts decide which widget gets them.
TEST_F(MainWindowTest, EscapeStopsATransferStartedFromTheKeyboardMenusOrWithTheMouse) {
  ASSERT_EQ(start(), 0);
  // The device answers the wake-up, then owes every answer: the sessions stay under way.
  auto identify = port.device;
  port.device = [&](const Operation& op) {
    return op.isRead && op.size != identificationSize ? Reply::written(1 << 30) : identify(op);
  };
  ScratchDir dir;
  const Bytes image(512, 'x');
  const FileChoice choice{dir.file("image.upg", &image), false};
  dialogs.files = {choice, choice};
  std::vector<int> keysAtWindow;
  KeyWatch watch(keysAtWindow);
  window().installEventFilter(&watch);
  window().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
  QWindow* handle = window().windowHandle();
  const auto running = [&] { return program().state().transferStep != TransferStep::Idle; };

  // Alt+A opens Action on its first enabled entry, Program; Right opens the kind's popup on
  // Write. The menu bar took the focus for this.
  QTest::keyClick(handle, Qt::Key_A, Qt::AltModifier);
  QTest::keyClick(handle, Qt::Key_Right);
  QTest::keyClick(handle, Qt::Key_Return);
  ASSERT_TRUE(running());
  ASSERT_EQ(dialogs.fileRequests.at(0).title, "Choose file with data :");
  // Every key reaches the window, which repaints for it; only Esc stops.
  keysAtWindow.clear();
  QTest::keyClick(handle, Qt::Key_Tab);
  QTest::keyClick(handle, Qt::Key_B);
  EXPECT_TRUE(running());
  QTest::keyClick(handle, Qt::Key_Escape);
  EXPECT_EQ(keysAtWindow, (std::vector<int>{Qt::Key_Tab, Qt::Key_B, Qt::Key_Escape}));
  EXPECT_FALSE(running());
  EXPECT_EQ(program().state().outcome, SessionOutcome::Stopped);

  // With the mouse: Action, Scanner libraries, Write.
  QMenuBar* bar = window().menuBar();
  QTest::mouseClick(handle, Qt::LeftButton, {},
                    bar->mapTo(&window(), bar->actionGeometry(bar->actions()[0]).center()));
  for (QAction* item :
       {window().itemAction(MenuId::Action, 3), window().commandAction(CMD_WRITE)}) {
    QMenu* menu = qobject_cast<QMenu*>(item->parent());
    ASSERT_TRUE(menu != nullptr && runUntil([&] { return menu->isVisible(); }, 10000))
        << item->text().toStdString();
    QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {},
                      menu->actionGeometry(item).center());
  }
  ASSERT_TRUE(running());
  EXPECT_EQ(dialogs.fileRequests.at(1).title, "Choose file with data :");
  EXPECT_EQ(program().state().dataKind, DataKind::FixtureLibraries);
  QTest::keyClick(handle, Qt::Key_Escape);
  EXPECT_FALSE(running());
  EXPECT_EQ(program().state().outcome, SessionOutcome::Stopped);
  EXPECT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
}

}  // namespace
}  // namespace morva::testing
