// The transfer engine: starting a session, and driving it one non-blocking step at a time.
#pragma once

#include <string>
#include <string_view>

#include "transfer/link_port.h"
#include "transfer/operator.h"
#include "transfer/session_state.h"

namespace morva {

// How a session start ended. The numbers are the system's own: callers that tell the failures
// apart (the command line) may rely on them; the desktop program's commands ignore them.
enum class StartResult : int {
  Started = 0,
  Failed = -1,      // no port, cancelled, refused, file or send error
  OutOfRange = -2,  // direction or kind outside its table
  Declined = -3,    // overwrite declined, or the file to send is missing
};

// How a session start finds its file: through the file chooser, or the last one as it stands
// (the Repeat command).
enum class FileSource { Chooser, LastFile };

// Begins a session for state.direction and state.dataKind: chooses (or reuses) the file,
// checks and opens it, and sends the WakeUp. Leaves transferStep at 1 on success.
StartResult startSession(SessionState& state, LinkPort& link, Operator& op,
                         FileSource source = FileSource::Chooser);

// The checks a write's or a verification's start makes of its source (the file chosen, its
// extension, that it exists and opens as a file, its lock), with no port and nothing sent; the
// file is closed again. Started when a session could start on it now, otherwise what the
// session start would return, its message shown. Lets a caller refuse a source before it does
// anything with the device. OutOfRange for a read, whose checks create its file.
StartResult checkSourceFile(SessionState& state, Operator& op);

enum class StepResult {
  Ignored,   // not a step number 1..9, or no longer the current step
  Waiting,   // the outstanding read or write is still pending: wait on the port, then retry
  Advanced,  // the step ran; transferStep holds what comes next (0 when the session ended)
};

// Performs exactly one step of the session, never waiting. `step` is the one that was current
// when the step was scheduled; a stale step, or one that names no step, is dropped.
StepResult performTransferStep(TransferStep step, SessionState& state, LinkPort& link,
                               Operator& op);

// Records the failure in state.failure and shows its box, then ends the session, then closes
// the direction's file when asked to.
void failTransfer(const Failure& failure, bool closeFile, SessionState& state, Operator& op);

// The Stop command: a running session ends where it stands (its file stays open), the port is
// purged both ways, aborting what is outstanding, and the whole window is repainted. Nothing
// goes to the device.
void stopSession(SessionState& state, LinkPort& link, Operator& op);

// The step that comes next may put a question to the operator: a verification's comparison
// of the block that is due.
bool stepMayAsk(const SessionState& state);

// How every verification question begins: "Veryfication error : block 897 pos. 5\n...".
inline constexpr std::string_view verificationQuestion = "Veryfication error : block ";

// "2.05" from (2, 5); "9.??" for a minor of 100 or more; "?.??" for a major of 10 or more.
std::string formatVersionText(unsigned major, unsigned minor);

// Closes the direction's file: targetFile for a read, sourceFile otherwise. False when the
// target's last blocks could not be written out.
bool closeDataFile(SessionState& state);

// The extension rule of the file chooser's answer: the text after the last dot of the file
// name (empty when there is none) compared with the default without regard to case.
bool extensionDiffers(const std::string& path, const std::string& defaultExtension);
// Whether the file chooser's one filter ("*.usr;*.bin") shows the file at `path`: its extension
// is one of the patterns', without regard to case.
bool fitsFilter(const std::string& path, const std::string& filterPattern);

}  // namespace morva
