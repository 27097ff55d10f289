#include "frontends/qt/menu_map.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QWindow>
#include <iostream>

namespace morva::qt {

namespace {

template <typename Items>
void print(Items* items, QWidget* window) {
  const QWindow* native = window->windowHandle();
  if (native == nullptr) return;
  for (QAction* action : items->actions()) {
    if (action->isSeparator() || !action->isVisible()) continue;
    const QRect r = items->actionGeometry(action);
    const QPoint at = items->mapTo(window, r.topLeft());
    std::cout << "menu-item " << native->winId() << ' ' << at.x() << ' ' << at.y() << ' '
              << r.width() << ' ' << r.height() << ' '
              << QString(action->text()).remove('&').toStdString() << '\n';
  }
  std::cout << std::flush;
}

void printButtons(QMessageBox* box) {
  const QWindow* native = box->windowHandle();
  if (native == nullptr) return;
  for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
    if (!button->isVisible()) continue;
    const QPoint at = button->mapTo(box, QPoint(0, 0));
    std::cout << "box-button " << native->winId() << ' ' << at.x() << ' ' << at.y() << ' '
              << button->width() << ' ' << button->height() << ' '
              << QString(button->text()).remove('&').toStdString() << '\n';
  }
  std::cout << std::flush;
}

}  // namespace

MenuMap* MenuMap::fromEnvironment(QObject* parent) {
  return qEnvironmentVariableIsSet("MORVA_MENU_MAP") ? new MenuMap(parent) : nullptr;
}

void MenuMap::watch(QWidget* menu) {
  menu->installEventFilter(this);
}

bool MenuMap::eventFilter(QObject* watched, QEvent* event) {
  // A popup is placed as it shows; the bar's entries also move when the window is resized.
  // Both are printed once the event has been handled and the layout follows it.
  // A box's buttons move when its details open or close, which resizes it.
  const bool placed = event->type() == QEvent::Show ||
                      (event->type() == QEvent::Resize &&
                       (qobject_cast<QMenuBar*>(watched) || qobject_cast<QMessageBox*>(watched)));
  if (!placed) return false;
  QMetaObject::invokeMethod(
      this,
      [target = QPointer<QObject>(watched)] {
        if (auto* menu = qobject_cast<QMenu*>(target.data())) {
          if (menu->isVisible()) print(menu, menu);
        } else if (auto* bar = qobject_cast<QMenuBar*>(target.data())) {
          if (bar->isVisible()) print(bar, bar->window());
        } else if (auto* box = qobject_cast<QMessageBox*>(target.data())) {
          if (box->isVisible()) printButtons(box);
        }
      },
      Qt::QueuedConnection);
  return false;
}

}  // namespace morva::qt
