#include "frontends/cli/terminal_operator.h"

#include "transfer/engine.h"

namespace morva::cli {

TerminalOperator::TerminalOperator(Console& console, std::ostream& err, bool yes, std::string file)
    : console_(console), err_(err), yes_(yes), file_(std::move(file)) {}

Answer TerminalOperator::showMessage(const Message& message) {
  messages_.push_back(message);
  const bool difference = message.text.starts_with(verificationQuestion);
  if (difference && yes_ && ++differencesAnswered_ > differencesShown) {
    if (differencesAnswered_ == differencesShown + 1) {
      if (beforeMessage_) beforeMessage_();  // ends a progress line drawn since the last one
      err_ << "(further differences are counted, not shown)\n";
    }
    return Answer::Yes;
  }
  if (beforeMessage_) beforeMessage_();
  // "A problem :" already ends with its colon.
  err_ << message.caption << (message.caption.ends_with(':') ? " " : ": ") << message.text << '\n';
  if (!message.detail.empty()) err_ << message.detail << '\n';
  err_.flush();
  if (message.buttons == Buttons::Ok) return Answer::Ok;
  return ask(message);
}

Answer TerminalOperator::ask(const Message& message) {
  const Answer fallback = message.secondIsDefault ? Answer::No : Answer::Yes;
  if (yes_) {
    err_ << "(--yes: Yes)\n";
    return Answer::Yes;
  }
  if (!console_.inputIsTerminal()) {
    err_ << "(no terminal to ask: " << (fallback == Answer::Yes ? "Yes" : "No") << ")\n";
    return fallback;
  }
  for (;;) {
    err_ << (fallback == Answer::Yes ? "[Y/n] " : "[y/N] ") << std::flush;
    auto line = console_.readLine();
    if (!line || console_.stopRequested()) return Answer::No;
    if (line->empty()) return fallback;
    char c = (*line)[0];
    if (c == 'y' || c == 'Y') return Answer::Yes;
    if (c == 'n' || c == 'N') return Answer::No;
  }
}

std::optional<FileChoice> TerminalOperator::chooseFile(const FileRequest& request) {
  return FileChoice{file_, extensionDiffers(file_, request.defaultExtension)};
}

}  // namespace morva::cli
