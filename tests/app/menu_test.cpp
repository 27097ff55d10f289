#include "app/menu.h"

#include <gtest/gtest.h>

#include "app/commands.h"

namespace morva {
namespace {

using Type = MenuItem::Type;

struct Expected {
  Type type;
  std::string text;
  int command;
  MenuId popup;
  bool grayed;
};

void expectItems(const Menu& menu, const std::vector<Expected>& expected) {
  ASSERT_EQ(menu.items.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("position " + std::to_string(i));
    const MenuItem& item = menu.items[i];
    EXPECT_EQ(item.type, expected[i].type);
    EXPECT_EQ(item.text, expected[i].text);
    EXPECT_EQ(item.command, expected[i].command);
    if (item.type == Type::Popup) {
      EXPECT_EQ(item.popup, expected[i].popup);
    }
    EXPECT_EQ(item.grayed, expected[i].grayed);
    EXPECT_FALSE(item.checked);
  }
}

constexpr MenuId none = MenuId::Bar;
const Expected separatorItem{Type::Separator, "", -1, none, false};

TEST(MenuTest, TreeHasTheItemsTheCommandsRelyOn) {
  const MenuTree tree = buildMenuTree({"/dev/ttyUSB0", "/dev/ttyUSB1"});
  expectItems(tree.bar, {{Type::Popup, "&Action", -1, MenuId::Action, false},
                         {Type::Popup, "&Port", -1, MenuId::Port, false},
                         {Type::Popup, "&Help", -1, MenuId::Help, false}});
  expectItems(tree.action, {{Type::Command, "&Repeat", CMD_REPEAT, none, true},
                            separatorItem,
                            {Type::Popup, "&Program", -1, MenuId::Choice, false},
                            {Type::Popup, "Scanner &libraries", -1, MenuId::Choice, false},
                            {Type::Popup, "&User data", -1, MenuId::Choice, false},
                            separatorItem,
                            {Type::Command, "&Stop", CMD_STOP, none, false},
                            separatorItem,
                            {Type::Command, "&Font", CMD_FONT, none, false},
                            separatorItem,
                            {Type::Command, "&Exit", CMD_EXIT, none, false}});
  expectItems(tree.port, {{Type::Command, "&Auto", CMD_PORT_AUTO, none, false},
                          {Type::Command, "/dev/ttyUSB0", CMD_PORT_FIRST, none, false},
                          {Type::Command, "/dev/ttyUSB1", CMD_PORT_FIRST + 1, none, false}});
  expectItems(tree.help, {{Type::Command, "&Contents", CMD_HELP_CONTENTS, none, false},
                          {Type::Command, "&About", CMD_ABOUT, none, false}});
  expectItems(tree.choice, {{Type::Command, "&Write to Vk350", CMD_WRITE, none, false},
                            {Type::Command, "&Read from Vk350", CMD_READ, none, false},
                            {Type::Command, "&Veryfication", CMD_VERIFY, none, false}});
}

TEST(MenuTest, KindEntriesSitWhereTheHighlightRuleLooks) {
  const MenuTree tree = buildMenuTree({});
  for (int position = firstKindPosition; position <= lastKindPosition; ++position)
    EXPECT_EQ(tree.action.items[position].popup, MenuId::Choice) << position;
  EXPECT_EQ(tree.action.items[repeatPosition].command, CMD_REPEAT);
  // No command item of the Action popup carries a number the highlight rule could mistake.
  for (const MenuItem& item : tree.action.items)
    EXPECT_TRUE(item.command < firstKindPosition || item.command > lastKindPosition);
}

TEST(MenuTest, PortItemsFollowTheListInOrder) {
  const std::vector<std::string> names{"/dev/ttyACM0", "/dev/ttyS4", "/dev/ttyUSB3"};
  const MenuTree tree = buildMenuTree(names);
  for (int i = 0; i < 3; ++i) {
    const MenuItem& item = tree.port.items[portItemPosition(i)];
    EXPECT_EQ(item.text, names[i]);
    EXPECT_EQ(item.command, CMD_PORT_FIRST + i);
  }
  EXPECT_EQ(buildMenuTree({}).port.items.size(), 1u);
}

TEST(MenuTest, KeysAreMatchedExactly) {
  for (MenuId id : {MenuId::Bar, MenuId::Action, MenuId::Port, MenuId::Help, MenuId::Choice}) {
    auto menu = buildMenu(menuKey(id), {});
    ASSERT_TRUE(menu) << menuKey(id);
    EXPECT_EQ(menu->id, id);
  }
  for (const char* key : {"akcje", "AKCJE", "Morva<->pc", "", "Choice ", "Help"})
    EXPECT_FALSE(buildMenu(key, {})) << key;
}

}  // namespace
}  // namespace morva
