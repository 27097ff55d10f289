// The main window: the painted client area, the menu bar built from the menu model, and the
// desktop services the program asks for (boxes and choosers through Dialogs).
#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <functional>
#include <map>
#include <vector>

#include "app/desktop.h"
#include "app/program.h"
#include "display/layout.h"
#include "frontends/qt/dialogs.h"

class QAction;
class QMenu;

namespace morva::qt {

class MenuMap;

inline constexpr const char* mainWindowTitle = "Vk350 Morva communication program";

// The area below the menu bar, painted from the session state at every paint.
class ClientArea : public QWidget {
 public:
  explicit ClientArea(QWidget* parent);
  void attach(const Program& program) { program_ = &program; }
  // The bands the transfer engine asks to repaint, as the last paint placed them.
  const LineRects& lineRects() const { return rects_; }
  bool hasPicture() const { return !picture_.isNull(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const Program* program_ = nullptr;
  QPixmap picture_;
  LineRects rects_;
};

class MainWindow : public QMainWindow, public Desktop {
  Q_OBJECT

 public:
  explicit MainWindow(Dialogs& dialogs);

  // The program the window's menus, keys and paints go to; `beforeCommand` runs before each
  // command or key is handed over (the step driver stops waiting on the port then).
  void attach(Program& program, std::function<void()> beforeCommand);

  Answer showMessage(const Message& message) override;
  std::optional<FileChoice> chooseFile(const FileRequest& request) override;
  void invalidate(Area area, bool erase) override;
  void setPortTick(int portIndex, bool ticked) override;
  void installMenus(const MenuTree& menus) override;
  void showWindow() override;
  void closeWindow() override;
  void setRepeatEnabled(bool enabled) override;
  std::optional<FontSpec> chooseFont(const FontSpec& current) override;
  bool openHelp(const std::string& path) override;

  ClientArea* client() const { return client_; }
  // The menu built for `id`; the Choice popup is the one shared by the three kind entries.
  QMenu* menu(MenuId id) const;
  // The action of the item at `position` of menu `id`, or null.
  QAction* itemAction(MenuId id, int position) const;
  // The action that runs command `number`, or null.
  QAction* commandAction(int number) const;

 signals:
  void closed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void fillMenu(QMenu* qmenu, const Menu& model);
  void highlighted(MenuId id, QMenu* qmenu, QAction* action);
  void runCommand(int number);
  void syncPortTicks();
  // Until the window system has shown the window for the first time (a guard ends the wait).
  void waitUntilPlaced();
  // A popup opened (+1) or closed (-1).
  void menuCountChanged(int change);

  Dialogs& dialogs_;
  Program* program_ = nullptr;
  std::function<void()> beforeCommand_;
  ClientArea* client_;
  std::map<MenuId, QMenu*> menus_;
  std::map<int, QAction*> commands_;
  QAction* choiceShownUnder_ = nullptr;
  MenuMap* menuMap_ = nullptr;  // where the menu items are, for a stage that clicks them
  bool placed_ = false;         // the window system has shown the window once
  int openMenus_ = 0;           // popups of the menu bar shown now
};

}  // namespace morva::qt
