// A desktop that answers like the recording operator and remembers, in order, what the
// program asked of the window: menus, showing, closing, boxes, ticks, help and font.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/desktop.h"
#include "tests/support/recording_operator.h"
#include "transfer/engine.h"

namespace morva::testing {

class FakeDesktop : public Desktop {
 public:
  RecordingOperator op;  // boxes, file choices, invalidations and ticks
  std::vector<std::string> events;
  std::optional<MenuTree> installed;
  std::deque<std::optional<FontSpec>> fonts;  // the font chooser's answers; cancelled when empty
  std::vector<FontSpec> fontRequests;
  std::vector<std::string> helpOpened;
  bool helpViewerWorks = true;
  bool repeatEnabled = false;
  bool windowShown = false;
  bool windowClosed = false;
  // Called on every box, before it is answered: lets a test look at the state a box sees.
  std::function<void(const Message&)> onMessage;
  std::function<void(Area)> onInvalidate;  // likewise for every repaint asked for

  Answer showMessage(const Message& message) override {
    events.push_back("box " + message.caption);
    if (onMessage) onMessage(message);
    return op.showMessage(message);
  }
  std::optional<FileChoice> chooseFile(const FileRequest& request) override {
    events.push_back("chooseFile");
    auto choice = op.chooseFile(request);
    // As the desktop's chooser: it judges the extension against the request's default.
    if (choice)
      choice->extensionDifferent = extensionDiffers(choice->path, request.defaultExtension);
    return choice;
  }
  void invalidate(Area area, bool erase) override {
    if (onInvalidate) onInvalidate(area);
    op.invalidate(area, erase);
  }
  void setPortTick(int portIndex, bool ticked) override {
    events.push_back((ticked ? "tick " : "untick ") + std::to_string(portIndex));
    op.setPortTick(portIndex, ticked);
  }
  void installMenus(const MenuTree& menus) override {
    events.push_back("installMenus");
    installed = menus;
  }
  void showWindow() override {
    events.push_back("showWindow");
    windowShown = true;
  }
  void closeWindow() override {
    events.push_back("closeWindow");
    windowClosed = true;
  }
  void setRepeatEnabled(bool enabled) override {
    events.push_back(enabled ? "enableRepeat" : "grayRepeat");
    repeatEnabled = enabled;
  }
  std::optional<FontSpec> chooseFont(const FontSpec& current) override {
    fontRequests.push_back(current);
    return nextOf(fonts);
  }
  bool openHelp(const std::string& path) override {
    helpOpened.push_back(path);
    return helpViewerWorks;
  }
};

}  // namespace morva::testing
