#include "frontends/win32/menu_bar.h"

namespace morva::win32 {

namespace {

// The member of `handles` (const or not) that holds menu `id`.
template <typename Handles>
auto& slot(Handles& handles, MenuId id) {
  switch (id) {
    case MenuId::Action:
      return handles.action;
    case MenuId::Port:
      return handles.port;
    case MenuId::Help:
      return handles.help;
    case MenuId::Choice:
      return handles.choice;
    case MenuId::Bar:
      break;
  }
  return handles.bar;
}

UINT commandFlags(const MenuItem& item) {
  UINT flags = MF_STRING;
  if (item.grayed) flags |= MF_GRAYED;
  if (item.checked) flags |= MF_CHECKED;
  return flags;
}

// One menu of the model; `good` turns false at the first failure, but the appends go on.
HMENU buildMenu(const Menu& model, const MenuTree& tree, MenuHandles& handles, bool& good) {
  HMENU menu = CreateMenu();
  if (menu == nullptr) {
    good = false;
    return nullptr;
  }
  for (const MenuItem& item : model.items) {
    BOOL appended = FALSE;
    switch (item.type) {
      case MenuItem::Type::Separator:
        appended = AppendMenuA(menu, MF_SEPARATOR, static_cast<UINT_PTR>(-1), "");
        break;
      case MenuItem::Type::Command:
        appended = AppendMenuA(menu, commandFlags(item), static_cast<UINT_PTR>(item.command),
                               item.text.c_str());
        break;
      case MenuItem::Type::Popup: {
        HMENU& popup = slot(handles, item.popup);
        if (item.popup != MenuId::Choice)
          popup = buildMenu(tree.menu(item.popup), tree, handles, good);
        if (popup != nullptr)
          appended =
              AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), item.text.c_str());
        break;
      }
    }
    if (!appended) good = false;
  }
  return menu;
}

}  // namespace

HMENU MenuHandles::handle(MenuId id) const {
  return slot(*this, id);
}

std::optional<MenuId> MenuHandles::idOf(HMENU menu) const {
  if (menu == nullptr) return std::nullopt;
  for (MenuId id : {MenuId::Bar, MenuId::Action, MenuId::Port, MenuId::Help, MenuId::Choice})
    if (handle(id) == menu) return id;
  return std::nullopt;
}

std::optional<MenuHandles> buildMenuBar(const MenuTree& tree) {
  MenuHandles handles;
  bool good = true;
  handles.choice = buildMenu(tree.choice, tree, handles, good);
  handles.bar = buildMenu(tree.bar, tree, handles, good);
  if (good) return handles;
  destroyMenuBar(handles);
  return std::nullopt;
}

void destroyMenuBar(MenuHandles& handles) {
  // DestroyMenu takes the popups of a menu with it; the Choice popup is only in the bar when
  // the Action popup could attach it.
  for (HMENU menu : {handles.bar, handles.choice})
    if (menu != nullptr && IsMenu(menu)) DestroyMenu(menu);
  handles = MenuHandles{};
}

}  // namespace morva::win32
