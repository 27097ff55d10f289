#include "app/menu.h"

#include "app/commands.h"

namespace morva {

namespace {

MenuItem command(std::string text, int number, bool grayed = false) {
  MenuItem item;
  item.text = std::move(text);
  item.command = number;
  item.grayed = grayed;
  return item;
}

MenuItem separator() {
  MenuItem item;
  item.type = MenuItem::Type::Separator;
  return item;
}

MenuItem popup(std::string text, MenuId opens) {
  MenuItem item;
  item.type = MenuItem::Type::Popup;
  item.text = std::move(text);
  item.popup = opens;
  return item;
}

std::vector<MenuItem> itemsOf(MenuId id, const std::vector<std::string>& portNames) {
  switch (id) {
    case MenuId::Bar:
      return {popup("&Action", MenuId::Action), popup("&Port", MenuId::Port),
              popup("&Help", MenuId::Help)};
    case MenuId::Action:
      // Repeat stays grayed until a transfer command has found a port ready.
      return {command("&Repeat", CMD_REPEAT, true),
              separator(),
              popup("&Program", MenuId::Choice),
              popup("Scanner &libraries", MenuId::Choice),
              popup("&User data", MenuId::Choice),
              separator(),
              command("&Stop", CMD_STOP),
              separator(),
              command("&Font", CMD_FONT),
              separator(),
              command("&Exit", CMD_EXIT)};
    case MenuId::Port: {
      std::vector<MenuItem> items{command("&Auto", CMD_PORT_AUTO)};
      for (std::size_t i = 0; i < portNames.size(); ++i)
        items.push_back(command(portNames[i], CMD_PORT_FIRST + static_cast<int>(i)));
      return items;
    }
    case MenuId::Help:
      return {command("&Contents", CMD_HELP_CONTENTS), command("&About", CMD_ABOUT)};
    case MenuId::Choice:
      return {command("&Write to Vk350", CMD_WRITE), command("&Read from Vk350", CMD_READ),
              command("&Veryfication", CMD_VERIFY)};
  }
  return {};
}

constexpr MenuId allMenus[] = {MenuId::Bar, MenuId::Action, MenuId::Port, MenuId::Help,
                               MenuId::Choice};

}  // namespace

std::string_view menuKey(MenuId id) {
  switch (id) {
    case MenuId::Bar:
      return "Morva<->PC";
    case MenuId::Action:
      return "Akcje";
    case MenuId::Port:
      return "Port";
    case MenuId::Help:
      return "Pomoc";
    case MenuId::Choice:
      return "Choice";
  }
  return {};
}

std::optional<Menu> buildMenu(std::string_view key, const std::vector<std::string>& portNames) {
  for (MenuId id : allMenus)
    if (menuKey(id) == key) return Menu{id, itemsOf(id, portNames)};
  return std::nullopt;
}

Menu& MenuTree::menu(MenuId id) {
  switch (id) {
    case MenuId::Bar:
      return bar;
    case MenuId::Action:
      return action;
    case MenuId::Port:
      return port;
    case MenuId::Help:
      return help;
    case MenuId::Choice:
      break;
  }
  return choice;
}

const Menu& MenuTree::menu(MenuId id) const {
  return const_cast<MenuTree&>(*this).menu(id);
}

MenuTree buildMenuTree(const std::vector<std::string>& portNames) {
  MenuTree tree;
  for (MenuId id : allMenus) tree.menu(id) = *buildMenu(menuKey(id), portNames);
  return tree;
}

}  // namespace morva
