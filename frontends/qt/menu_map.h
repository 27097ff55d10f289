// Where the menu items are in their windows, for a stage that works the program from outside with
// the pointer (tools/gui-test.sh). The menu bar's entries are painted inside the main window
// and a popup's items inside its own window: nothing outside the program can see them. When
// the environment sets MORVA_MENU_MAP, the bar and every popup, as they show, print on stdout
// one line per item:
//
//   menu-item WINDOW X Y WIDTH HEIGHT TEXT
//
// WINDOW is the native window the item is painted in (the X window id, in decimal), X and Y are
// relative to that window's inside, and TEXT is the item's text without its '&'. The stage
// reads the window's place on the screen from the window system itself. A message box watched
// the same way prints its buttons as it shows, and again when one of them is pressed:
//
//   box-button WINDOW X Y WIDTH HEIGHT TEXT
#pragma once

#include <QObject>

class QWidget;

namespace morva::qt {

class MenuMap : public QObject {
 public:
  // Null unless the environment asks for the map.
  static MenuMap* fromEnvironment(QObject* parent);
  // The menu bar, a popup or a message box.
  void watch(QWidget* menu);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using QObject::QObject;
};

}  // namespace morva::qt
