// The operator as the desktop program's sessions meet it: the desktop's own boxes, choosers
// and repaints, with what the main window adds to them. However a session ends (complete,
// failed, declined or stopped), its session and block lines leave the window. While a menu is
// open the session goes on, but a box it must show waits until the menu has closed.
#pragma once

#include <vector>

#include "app/desktop.h"
#include "transfer/operator.h"

namespace morva {

class SessionOperator : public Operator {
 public:
  explicit SessionOperator(Desktop& desktop) : desktop_(desktop) {}

  // A box with one OK button, asked for while a menu is open, is owed: the session goes on as
  // if it had been answered. A question is always put at once (the program holds a session
  // that would ask one while a menu is open).
  Answer showMessage(const Message& message) override;
  std::optional<FileChoice> chooseFile(const FileRequest& request) override {
    return desktop_.chooseFile(request);
  }
  void invalidate(Area area, bool erase) override { desktop_.invalidate(area, erase); }
  void blockCompleted(unsigned done, unsigned total) override {
    desktop_.blockCompleted(done, total);
  }
  void sessionEnded(SessionOutcome outcome) override;

  void setMenuOpen(bool open) { menuOpen_ = open; }
  bool menuOpen() const { return menuOpen_; }
  bool owesBoxes() const { return !owed_.empty(); }
  // The boxes put off while a menu was open, in the order they were asked for.
  void showOwedBoxes();

 private:
  Desktop& desktop_;
  bool menuOpen_ = false;
  std::vector<Message> owed_;
};

}  // namespace morva
