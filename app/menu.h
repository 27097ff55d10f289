// The menus as data: texts, positions (separators count), command numbers and the grayed and
// ticked states. The front end builds its widgets from this and mirrors later changes; the
// commands rely on the positions and numbers given here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morva {

// The menus by their role. The Choice popup is the one popup shared by the three kind entries
// of the Action popup.
enum class MenuId { Bar, Action, Port, Help, Choice };

struct MenuItem {
  enum class Type { Command, Separator, Popup };
  Type type = Type::Command;
  std::string text;            // "&" marks the mnemonic; empty for a separator
  int command = -1;            // a command item's number; -1 otherwise
  MenuId popup = MenuId::Bar;  // the menu a popup entry opens
  bool grayed = false;
  bool checked = false;

  bool operator==(const MenuItem&) const = default;
};

struct Menu {
  MenuId id = MenuId::Bar;
  std::vector<MenuItem> items;
};

// The key names of the five menus: "Morva<->PC" (the bar), "Akcje", "Port", "Pomoc", "Choice".
std::string_view menuKey(MenuId id);

// The items of the menu named `key` (matched exactly, case included); none for an unknown key.
// The Port popup holds "&Auto" and then one item per name of `portNames`, in order.
std::optional<Menu> buildMenu(std::string_view key, const std::vector<std::string>& portNames);

// All five menus of the main window, built once at start-up from the port list of that moment.
struct MenuTree {
  Menu bar;
  Menu action;
  Menu port;
  Menu help;
  Menu choice;

  Menu& menu(MenuId id);
  const Menu& menu(MenuId id) const;
};

MenuTree buildMenuTree(const std::vector<std::string>& portNames);

// Positions of the items the commands change.
inline constexpr int repeatPosition = 0;  // in the Action popup
// The Action popup's kind entries: positions 2, 3 and 4 choose data kinds 0, 1 and 2.
inline constexpr int firstKindPosition = 2;
inline constexpr int lastKindPosition = 4;
// The Port popup's item for port i.
constexpr int portItemPosition(int portIndex) {
  return portIndex + 1;
}

}  // namespace morva
