// The main window's menu bar as USER32 builds it from the menu model.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>

#include "app/commands.h"
#include "frontends/win32/menu_bar.h"
#include "tests/wine/win32_desktop.h"

namespace morva::testing {
namespace {

TEST(MenuBarTest, MirrorsTheModelItemByItem) {
  const MenuTree tree = buildMenuTree({"COM1", "COM3"});
  auto handles = win32::buildMenuBar(tree);
  ASSERT_TRUE(handles.has_value());
  ASSERT_EQ(GetMenuItemCount(handles->bar), 3);
  for (int b = 0; b < 3; ++b) {
    const MenuItem& entry = tree.bar.items[static_cast<std::size_t>(b)];
    EXPECT_EQ(menuText(handles->bar, b), entry.text);
    HMENU popup = GetSubMenu(handles->bar, b);
    ASSERT_EQ(popup, handles->handle(entry.popup));
    const Menu& model = tree.menu(entry.popup);
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(model.items.size())) << entry.text;
    for (std::size_t p = 0; p < model.items.size(); ++p) {
      SCOPED_TRACE(entry.text + " position " + std::to_string(p));
      const MenuItem& item = model.items[p];
      const int position = static_cast<int>(p);
      const UINT state = menuState(popup, position);
      EXPECT_EQ((state & MF_SEPARATOR) != 0, item.type == MenuItem::Type::Separator);
      if (item.type == MenuItem::Type::Separator) continue;  // some systems call them grayed
      EXPECT_EQ((state & MF_GRAYED) != 0, item.grayed);
      EXPECT_EQ((state & MF_CHECKED) != 0, item.checked);
      EXPECT_EQ(menuText(popup, position), item.text);
      if (item.type == MenuItem::Type::Command)
        EXPECT_EQ(GetMenuItemID(popup, position), static_cast<UINT>(item.command));
      else
        EXPECT_EQ(GetSubMenu(popup, position), handles->choice);
    }
  }
  ASSERT_EQ(GetMenuItemCount(handles->choice), 3);
  EXPECT_EQ(menuText(handles->choice, 0), "&Write to Vk350");
  EXPECT_EQ(GetMenuItemID(handles->choice, 2), static_cast<UINT>(CMD_VERIFY));
  EXPECT_EQ(menuText(handles->port, 2), "COM3");
  EXPECT_EQ(GetMenuItemID(handles->port, 2), static_cast<UINT>(CMD_PORT_FIRST + 1));
  win32::destroyMenuBar(*handles);
  EXPECT_EQ(handles->bar, nullptr);
}

TEST(MenuBarTest, KnowsItsOwnMenusOnly) {
  auto handles = win32::buildMenuBar(buildMenuTree({"COM1"}));
  ASSERT_TRUE(handles.has_value());
  for (MenuId id : {MenuId::Bar, MenuId::Action, MenuId::Port, MenuId::Help, MenuId::Choice})
    EXPECT_EQ(handles->idOf(handles->handle(id)), id);
  HMENU stranger = CreatePopupMenu();
  EXPECT_EQ(handles->idOf(stranger), std::nullopt);
  EXPECT_EQ(handles->idOf(nullptr), std::nullopt);
  DestroyMenu(stranger);
  HMENU choice = handles->choice;
  win32::destroyMenuBar(*handles);
  EXPECT_FALSE(IsMenu(choice));  // it went with the bar that held it
}

}  // namespace
}  // namespace morva::testing
