// The operator on a terminal: every message box becomes a "Caption: text" line on stderr, the
// file chooser answers with the FILE of the command line, questions are asked when a person is
// there to answer them. With --yes a verification's questions are printed for its first
// differences only: a wrong file would otherwise print hundreds of thousands of lines.
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
  // A terminal has no window to repaint, and no Port menu to tick.
  void invalidate(Area, bool) override {}
  void setPortTick(int, bool) override {}
  void blockCompleted(unsigned done, unsigned total) override {
    if (onBlock_) onBlock_(done, total);
  }

  // Called before a message is printed, so that a progress line can get out of the way.
  void setBeforeMessage(std::function<void()> hook) { beforeMessage_ = std::move(hook); }
  // Called for every block the session counts.
  void setOnBlock(std::function<void(unsigned, unsigned)> hook) { onBlock_ = std::move(hook); }
  // The file the chooser answers with from now on, as the sessions use it (see sessionPath).
  void setFile(std::string file) { file_ = std::move(file); }

  static constexpr int differencesShown = 10;
  const std::vector<Message>& messages() const { return messages_; }

 private:
  Answer ask(const Message& message);

  Console& console_;
  std::ostream& err_;
  bool yes_;
  std::string file_;
  std::function<void()> beforeMessage_;
  std::function<void(unsigned, unsigned)> onBlock_;
  std::vector<Message> messages_;
  int differencesAnswered_ = 0;
};

}  // namespace morva::cli
