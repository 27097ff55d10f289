// The operator as the desktop program's sessions meet it: the desktop's own boxes, choosers
// and repaints, with what the main window adds to them. However a session ends (complete,
// failed, declined or stopped), its session and block lines leave the window.
#pragma once

#include "app/desktop.h"
#include "transfer/operator.h"

namespace morva {

class SessionOperator : public Operator {
 public:
  explicit SessionOperator(Desktop& desktop) : desktop_(desktop) {}

  Answer showMessage(const Message& message) override { return desktop_.showMessage(message); }
  std::optional<FileChoice> chooseFile(const FileRequest& request) override {
    return desktop_.chooseFile(request);
  }
  void invalidate(Area area, bool erase) override { desktop_.invalidate(area, erase); }
  void blockCompleted(unsigned done, unsigned total) override {
    desktop_.blockCompleted(done, total);
  }
  void sessionEnded(SessionOutcome outcome) override;

 private:
  Desktop& desktop_;
};

}  // namespace morva
