// The page as the desktop the program runs on: its menu bar, its in-page message boxes and
// choosers, the canvas' repaints. Every box and chooser is a modal dialog inside the page,
// whose answer the engine's call waits for without blocking the page (it is suspended and
// resumed when the person has answered).
#pragma once

#include <string>

#include "app/desktop.h"
#include "display/layout.h"

namespace morva::web {

class WebDesktop : public Desktop {
 public:
  Answer showMessage(const Message& message) override;
  std::optional<FileChoice> chooseFile(const FileRequest& request) override;
  void invalidate(Area area, bool erase) override;
  void sessionEnded(SessionOutcome outcome) override;
  void setPortTick(int portIndex, bool ticked) override;
  void installMenus(const MenuTree& menus) override;
  void showWindow() override;
  // Exit: the page ends the session once the command has returned (ended() says so).
  void closeWindow() override { ended_ = true; }
  void setRepeatEnabled(bool enabled) override;
  std::optional<FontSpec> chooseFont(const FontSpec& current) override;
  bool openHelp(const std::string& path) override;

  bool ended() const { return ended_; }
  // The bands of the last paint, which the engine's repaints name.
  LineRects& lineRects() { return rects_; }

 private:
  LineRects rects_;
  bool ended_ = false;
};

// The menus as JSON for the page's menu bar.
std::string menusJson(const MenuTree& menus);

}  // namespace morva::web
