// An operator that answers from a script and remembers every message and invalidation.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "transfer/operator.h"

namespace morva::testing {

// The next of a script's answers, or `otherwise` once the script has run out.
template <typename T>
T nextOf(std::deque<T>& script, T otherwise = {}) {
  if (script.empty()) return otherwise;
  T next = std::move(script.front());
  script.pop_front();
  return next;
}

// How a scripted operator answers a box: Ok to a notice; to a question, the next scripted
// answer, or the default button once they have run out.
inline Answer scriptedAnswer(const Message& message, std::deque<Answer>& answers) {
  if (message.buttons == Buttons::Ok) return Answer::Ok;
  return nextOf(answers, message.secondIsDefault ? Answer::No : Answer::Yes);
}

struct Invalidation {
  Area area;
  bool erase;
  bool operator==(const Invalidation&) const = default;
};

class RecordingOperator : public Operator, public PortMenu {
 public:
  std::deque<Answer> answers;                         // for Yes/No questions; default button else
  std::deque<std::optional<FileChoice>> fileChoices;  // cancelled when empty
  std::vector<Message> messages;
  std::vector<FileRequest> fileRequests;
  std::vector<Invalidation> invalidations;
  std::vector<std::pair<int, bool>> ticks;

  Answer showMessage(const Message& message) override {
    messages.push_back(message);
    return scriptedAnswer(message, answers);
  }
  std::optional<FileChoice> chooseFile(const FileRequest& request) override {
    fileRequests.push_back(request);
    return nextOf(fileChoices);
  }
  void invalidate(Area area, bool erase) override { invalidations.push_back({area, erase}); }
  void setPortTick(int portIndex, bool ticked) override { ticks.emplace_back(portIndex, ticked); }

  // "Caption: text" of every message, for compact assertions.
  std::vector<std::string> shown() const {
    std::vector<std::string> s;
    for (const auto& m : messages) s.push_back(m.caption + ": " + m.text);
    return s;
  }
  void clear() {
    messages.clear();
    invalidations.clear();
    fileRequests.clear();
    ticks.clear();
  }
};

}  // namespace morva::testing
