// Faults the simulated controller can be told to commit, so that every failure path of the PC
// side can be provoked on demand. Tests and the vk350-sim program describe them the same way.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morva::sim {

// The answer of the device that a fault takes the place of.
enum class FaultStep {
  WakeUp,   // the identification that answers an ESC
  Command,  // the answer byte to a block command
  Data,     // the answer to a written data frame, or the data frame sent for a read
};

enum class FaultAction {
  Nak,      // NAK where the ACK belongs (a read's data frame becomes a lone NAK)
  Illegal,  // `byte` where the ACK belongs, same places as Nak
  Silence,  // no answer at all
  Short,    // only the first `count` bytes of the answer
  Corrupt,  // checksum raised by `byte` (0 counts as 1); a lone ACK becomes ACK + `byte`
  Pause,    // a stop of `delay` after `count` bytes of the answer (0: after half of it)
  Late,     // the whole answer `delay` later than usual
  Twice,    // the answer sent two times over
  Garbage,  // `count` junk bytes ahead of the answer
  Vanish,   // `count` bytes of the answer, then the line is closed for good (a hang-up)
  Hold,     // `count` bytes of the answer, then the rest only once the owner releases it
};

struct Fault {
  FaultAction action = FaultAction::Nak;
  FaultStep step = FaultStep::Command;
  std::optional<std::uint16_t> block;  // only for this block; none: every block (WakeUp: n/a)
  std::uint8_t byte = 0x41;
  std::size_t count = 0;
  std::chrono::milliseconds delay{0};
  bool once = false;  // fires only the first time it matches
};

// Reads "ACTION@STEP[:BLOCK][=VALUE][/once]", e.g. "nak@command:5", "illegal@data:2=0x41",
// "short@data:3=200", "pause@data:3=250", "silence@wakeup", "garbage@wakeup=3", "hold@data:3".
// VALUE is the byte (illegal, corrupt), the count (short, garbage, vanish) or milliseconds
// (pause, late). nullopt when the text is not such a fault.
std::optional<Fault> parseFault(std::string_view text);
// The same form back, for the trace and for messages.
std::string describeFault(const Fault& fault);

// True when the device still takes the frame although the fault changed its answer: the
// answer still reaches the PC as an ACK, only shifted, doubled or prefixed.
bool keepsAcceptance(const Fault& fault, std::size_t answerLength);

// The faults in force. The device thread asks; tests and the program replace them any time.
class FaultSet {
 public:
  void replace(std::vector<Fault> faults);
  // The first fault for this step and block that may still fire; a `once` fault is spent.
  std::optional<Fault> take(FaultStep step, std::uint16_t block);

 private:
  std::mutex mutex_;
  std::vector<Fault> faults_;
  std::vector<bool> spent_;
};

}  // namespace morva::sim
