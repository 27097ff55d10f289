#include "frontends/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "app/commands.h"
#include "display/paint.h"
#include "frontends/qt/menu_map.h"
#include "frontends/qt/qt_canvas.h"

// The icons and the background picture live in a static library: its resources are only
// registered when asked for by name.
static int registerResources() {
  Q_INIT_RESOURCE(morva);
  return 0;
}
static void initialiseResources() {
  [[maybe_unused]] static const int once = registerResources();
}

namespace morva::qt {

namespace {

QRect qtRect(const Rect& r) {
  return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

}  // namespace

ClientArea::ClientArea(QWidget* parent) : QWidget(parent) {
  initialiseResources();
  picture_.load(":/morva/background.png");
  // Where no picture is drawn, the erase with the window's background colour shows.
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window,
                   QColor(windowBackgroundColour.red, windowBackgroundColour.green,
                          windowBackgroundColour.blue));
  setPalette(palette);
  setAutoFillBackground(true);
  // The keys are for the painted area: it holds the focus whenever the window is active, so
  // that the menu bar, which takes the focus while it is worked from the keyboard, has it to
  // hand back (keeping it, the menu bar would take every Esc). It is the window's only
  // focusable widget, so Tab moves nothing and reaches the window's key handler too.
  setFocusPolicy(Qt::StrongFocus);
}

void ClientArea::paintEvent(QPaintEvent*) {
  if (program_ == nullptr) return;
  QPainter painter(this);
  QtCanvas canvas(painter, picture_);
  // The picture is stretched over the window's outer size, frame and menu bar included; what
  // does not fit the client area is clipped.
  const QSize outer = window()->frameGeometry().size();
  const WindowGeometry geometry{outer.width(), outer.height(), width()};
  paintMainWindow(canvas, program_->state(), geometry,
                  DisplaySettings{program_->displayFont(), !picture_.isNull()}, rects_);
}

MainWindow::MainWindow(Dialogs& dialogs) : dialogs_(dialogs), client_(new ClientArea(this)) {
  initialiseResources();
  setWindowTitle(mainWindowTitle);
  // Task bars and window switchers pick the larger sizes; the title bar the small ones. Every
  // window of the program shows it, the box shown before this one exists too.
  QIcon icon;
  for (const int size : {256, 48, 32, 16})
    icon.addFile(QString(":/morva/icon-%1.png").arg(size), QSize(size, size));
  QApplication::setWindowIcon(icon);
  setWindowIcon(icon);
  setCentralWidget(client_);
  resize(640, 498);
  menuMap_ = MenuMap::fromEnvironment(this);
  if (menuMap_ != nullptr) menuMap_->watch(menuBar());
}

void MainWindow::attach(Program& program, std::function<void()> beforeCommand) {
  program_ = &program;
  beforeCommand_ = std::move(beforeCommand);
  client_->attach(program);
}

Answer MainWindow::showMessage(const Message& message) {
  if (message.owned) waitUntilPlaced();
  return dialogs_.showMessage(message.owned ? this : nullptr, message);
}

void MainWindow::waitUntilPlaced() {
  // A box is centred over its window where the window system put it. The start-up search's
  // box comes while the window system is still placing the window just shown: until it has
  // shown it, the window stands at the screen's corner as far as the box can tell. Only input
  // waits meanwhile; this is before the first idle moment, so no step can run.
  if (placed_ || !isVisible() || windowHandle() == nullptr) return;
  QElapsedTimer guard;
  guard.start();
  while (!windowHandle()->isExposed() && guard.elapsed() < 2000)
    QCoreApplication::processEvents(
        QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents, 50);
  placed_ = true;
}

std::optional<FileChoice> MainWindow::chooseFile(const FileRequest& request) {
  return dialogs_.chooseFile(this, request);
}

void MainWindow::invalidate(Area area, bool) {
  // Qt fills the background of every repainted area before the paint: always an erase.
  switch (area) {
    case Area::Window:
      client_->update();
      break;
    case Area::BlockLine:
      client_->update(qtRect(client_->lineRects().blockLineRect));
      break;
    case Area::StatusLine:
      client_->update(qtRect(client_->lineRects().statusLineRect));
      break;
  }
}

void MainWindow::setPortTick(int portIndex, bool ticked) {
  if (QAction* action = itemAction(MenuId::Port, portItemPosition(portIndex)))
    action->setChecked(ticked);
}

void MainWindow::installMenus(const MenuTree& menus) {
  menuBar()->clear();
  menus_.clear();
  commands_.clear();
  // Built first: the three kind entries of the Action popup all open it.
  QMenu* choice = new QMenu(this);
  menus_[MenuId::Choice] = choice;
  if (menuMap_ != nullptr) menuMap_->watch(choice);
  fillMenu(choice, menus.choice);
  connect(choice, &QMenu::aboutToShow, this,
          [this] { choiceShownUnder_ = menu(MenuId::Action)->activeAction(); });
  for (const MenuItem& item : menus.bar.items) {
    QMenu* popup = menuBar()->addMenu(QString::fromStdString(item.text));
    menus_[item.popup] = popup;
    if (menuMap_ != nullptr) menuMap_->watch(popup);
    fillMenu(popup, menus.menu(item.popup));
  }
  for (const auto& [id, popup] : menus_) {
    connect(popup, &QMenu::aboutToShow, this, [this] { menuCountChanged(+1); });
    connect(popup, &QMenu::aboutToHide, this, [this] { menuCountChanged(-1); });
  }
}

void MainWindow::menuCountChanged(int change) {
  openMenus_ = std::max(0, openMenus_ + change);
  if (program_ == nullptr) return;
  program_->menuShown(openMenus_ > 0);
  if (openMenus_ > 0) return;
  // Once the menu's own handling is over (a command it triggers runs first, and shows what is
  // owed itself), the boxes the session put off while the menu was open.
  QTimer::singleShot(0, this, [this] {
    if (program_ != nullptr && openMenus_ == 0 && QApplication::activeModalWidget() == nullptr)
      program_->showOwedBoxes();
  });
}

void MainWindow::fillMenu(QMenu* qmenu, const Menu& model) {
  for (const MenuItem& item : model.items) {
    if (item.type == MenuItem::Type::Separator) {
      qmenu->addSeparator();
      continue;
    }
    QAction* action = qmenu->addAction(QString::fromStdString(item.text));
    if (item.type == MenuItem::Type::Popup) {
      action->setMenu(menus_.at(item.popup));
      continue;
    }
    action->setEnabled(!item.grayed);
    if (model.id == MenuId::Port && item.command != CMD_PORT_AUTO) {
      action->setCheckable(true);
      action->setChecked(item.checked);
    }
    commands_[item.command] = action;
    connect(action, &QAction::triggered, this, [this, n = item.command] { runCommand(n); });
  }
  connect(qmenu, &QMenu::hovered, this,
          [this, id = model.id, qmenu](QAction* action) { highlighted(id, qmenu, action); });
}

void MainWindow::highlighted(MenuId id, QMenu* qmenu, QAction* action) {
  // A menu also hears about the items of its open submenu: only its own items count.
  const int position = static_cast<int>(qmenu->actions().indexOf(action));
  if (position < 0 || program_ == nullptr) return;
  QMenu* choice = menu(MenuId::Choice);
  // Qt keeps a shared submenu up when the pointer moves to another entry that opens it, so
  // the entry under which it shows would no longer be the one highlighted: close it, and the
  // new entry opens it again.
  if (id == MenuId::Action && action->menu() == choice && choice->isVisible() &&
      choiceShownUnder_ != action)
    choice->hide();
  program_->menuSelect(id, position);
}

void MainWindow::runCommand(int number) {
  if (program_ == nullptr) return;
  if (beforeCommand_) beforeCommand_();
  program_->command(number);
  syncPortTicks();
}

void MainWindow::syncPortTicks() {
  // A checkable item ticks itself when clicked; the model decides whether it stays ticked.
  const Menu& ports = program_->menus().port;
  for (std::size_t i = 1; i < ports.items.size(); ++i)
    if (QAction* action = itemAction(MenuId::Port, static_cast<int>(i)))
      action->setChecked(ports.items[i].checked);
}

void MainWindow::showWindow() {
  show();
}

void MainWindow::closeWindow() {
  close();
}

void MainWindow::setRepeatEnabled(bool enabled) {
  if (QAction* action = commandAction(CMD_REPEAT)) action->setEnabled(enabled);
}

std::optional<FontSpec> MainWindow::chooseFont(const FontSpec& current) {
  return dialogs_.chooseFont(this, current);
}

bool MainWindow::openHelp(const std::string& path) {
  return dialogs_.openHelp(path);
}

QMenu* MainWindow::menu(MenuId id) const {
  auto it = menus_.find(id);
  return it == menus_.end() ? nullptr : it->second;
}

QAction* MainWindow::itemAction(MenuId id, int position) const {
  QMenu* qmenu = menu(id);
  if (qmenu == nullptr || position < 0 || position >= qmenu->actions().size()) return nullptr;
  return qmenu->actions().at(position);
}

QAction* MainWindow::commandAction(int number) const {
  auto it = commands_.find(number);
  return it == commands_.end() ? nullptr : it->second;
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  int code = -1;
  if (!text.isEmpty())
    code = text.at(0).unicode();
  else if (event->key() == Qt::Key_Escape)
    code = escapeCharacter;
  if (code < 0 || program_ == nullptr) {
    QMainWindow::keyPressEvent(event);
    return;
  }
  if (beforeCommand_) beforeCommand_();
  program_->character(code);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The picture follows the outer size and the firmware line the width: all of it moves.
  client_->update();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  emit closed();
}

}  // namespace morva::qt
