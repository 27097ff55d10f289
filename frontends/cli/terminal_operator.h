// The operator on a terminal: every message box becomes a "Caption: text" line on stderr, the
// file chooser answers with the FILE of the command line, questions are asked when a person is
// there to answer them.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "transfer/operator.h"

namespace morva::cli {

class TerminalOperator : public Operator, public PortMenu {
 public:
  TerminalOperator(Console& console, std::ostream& err, bool yes, std::string file);

  Answer showMessage(const Message& message) override;
  std::optional<FileChoice> chooseFile(const FileRequest& request) override;
  void invalidate(Area area, bool erase) override;
  // The command line has no Port menu to tick.
  void setPortTick(int, bool) override {}

  // Called before a message is printed, so that a progress line can get out of the way.
  void setBeforeMessage(std::function<void()> hook) { beforeMessage_ = std::move(hook); }
  // True once the block line was invalidated since the last call: a block was completed.
  bool takeBlockDone();
  const std::vector<Message>& messages() const { return messages_; }

 private:
  Answer ask(const Message& message);

  Console& console_;
  std::ostream& err_;
  bool yes_;
  std::string file_;
  std::function<void()> beforeMessage_;
  std::vector<Message> messages_;
  bool blockDone_ = false;
};

}  // namespace morva::cli
