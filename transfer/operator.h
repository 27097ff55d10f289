// The person at the program: message boxes, the file chooser, and the window areas that need
// repainting. The engine and the serial link reach the screen only through this.
#pragma once

#include <optional>
#include <string>

#include "transfer/session_steps.h"

namespace morva {

enum class Icon { Warning, Error, Information, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct Message {
  std::string text;
  std::string caption;
  Icon icon = Icon::Warning;
  Buttons buttons = Buttons::Ok;
  bool secondIsDefault = false;  // No is the default button of a Yes/No question
  std::string detail;            // an OS reason; never part of the text itself
  bool owned = true;             // false only for the box shown before the main window exists
  bool operator==(const Message&) const = default;
};

// What the file chooser is asked for: the direction's title and checks, the kind's one filter.
struct FileRequest {
  std::string title;
  std::string filterDescription;  // "User data (*.usr)"
  std::string filterPattern;      // "*.usr;*.bin"
  std::string initialName;        // the previous choice, empty before the first
  std::string defaultExtension;   // without the dot
  bool mustExist = false;         // write and verify: the path and the file must exist
  bool createPrompt = false;      // read: a missing file may be named (asked before creating)
};

struct FileChoice {
  std::string path;  // full path
  bool extensionDifferent = false;
};

// The main window's regions that the engine asks to repaint.
enum class Area { Window, BlockLine, StatusLine };

class Operator {
 public:
  virtual ~Operator() = default;
  virtual Answer showMessage(const Message& message) = 0;
  // Returns no choice when the operator cancelled or the chooser failed.
  virtual std::optional<FileChoice> chooseFile(const FileRequest& request) = 0;
  virtual void invalidate(Area area, bool erase) = 0;

  // The session's progress, for front ends that report it otherwise than by repainting: a
  // block was counted (`done` of the session's `total` blocks), and the session ended.
  virtual void blockCompleted(unsigned done, unsigned total) {
    (void)done;
    (void)total;
  }
  virtual void sessionEnded(SessionOutcome outcome) { (void)outcome; }
};

// The check marks of the Port menu: item i + 1 stands for port i of the list.
class PortMenu {
 public:
  virtual ~PortMenu() = default;
  virtual void setPortTick(int portIndex, bool ticked) = 0;
};

}  // namespace morva
