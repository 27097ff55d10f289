// The main window's menus as USER32 menus, built from the menu model: the same texts,
// positions, command numbers and states, and the one Choice popup under the three kind
// entries of the Action popup.
#pragma once

#include <windows.h>

#include <optional>

#include "app/menu.h"

namespace morva::win32 {

struct MenuHandles {
  HMENU bar = nullptr;
  HMENU action = nullptr;
  HMENU port = nullptr;
  HMENU help = nullptr;
  HMENU choice = nullptr;

  HMENU handle(MenuId id) const;
  // Which of the five menus `menu` is; none for a menu that is not ours (the system menu).
  std::optional<MenuId> idOf(HMENU menu) const;
};

// Builds the five menus of `tree` with CreateMenu and AppendMenuA: the Choice popup first,
// since the Action popup attaches it three times, then the bar, each of its popups built just
// before it is appended. Every append is made even after one failed; when any failed, all
// that was built is destroyed and none is returned.
std::optional<MenuHandles> buildMenuBar(const MenuTree& tree);

// Destroys the bar and the popups in it (the shared Choice popup once), unless a window that
// had the bar already took them with it.
void destroyMenuBar(MenuHandles& handles);

}  // namespace morva::win32
