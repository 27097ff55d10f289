// What the program needs from the desktop it runs on, besides the operator's boxes and file
// chooser: the main window, its menus, the font chooser and the help viewer.
#pragma once

#include <optional>
#include <string>

#include "app/menu.h"
#include "display/canvas.h"
#include "transfer/operator.h"

namespace morva {

class Desktop : public Operator, public PortMenu {
 public:
  // Builds the main window's menu bar from `menus` (called once, before showWindow).
  virtual void installMenus(const MenuTree& menus) = 0;
  virtual void showWindow() = 0;
  // Closes the main window, which ends the program.
  virtual void closeWindow() = 0;
  virtual void setRepeatEnabled(bool enabled) = 0;
  // The operator's font, starting from `current`; none when cancelled.
  virtual std::optional<FontSpec> chooseFont(const FontSpec& current) = 0;
  // Opens the manual at `path` in the desktop's viewer; false when no viewer took it.
  virtual bool openHelp(const std::string& path) = 0;
};

}  // namespace morva
