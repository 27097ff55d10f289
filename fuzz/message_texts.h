// The texts the engine may show, recognised exactly: each with its caption, icon and buttons,
// and the numbers inside it parsed so that the harness can compare them with what happened.
#pragma once

#include <optional>
#include <string>

#include "transfer/operator.h"

namespace morva::fuzz {

enum class Text {
  NoPort,              // "You must choose available serial port !"
  ExtensionChanged,    // "Don't change file extension !"
  OverwriteQuestion,   // "File <name> already exists !\nDo you want overwrite the file ?"
  FileMissing,         // "File <name> doesn't exist !"
  WriteAccessDenied,   // "<name> :\nWrite access denied !"
  OpenError,           // "File open error !"
  CommunicationError,  // "Communication error : <n>"
  ErrorCode,           // "Error code : <n>"
  InitializationError,
  AcknowledgmentError,
  TransmissionError,
  ReadError,   // "File read error !"
  WriteError,  // "File write error !"
  Verification
};

// The detail behind the initialization, acknowledgment and transmission prefixes.
enum class Detail { None, NoData, Nak, IllegalAck, Checksum };

struct RecognisedText {
  Text text = Text::ErrorCode;
  Detail detail = Detail::None;
  unsigned number = 0;  // the error number, the count of "no data", the byte or the residue
  // A verification question: the block as shown (absolute + 1), the position, both bytes.
  unsigned block = 0, position = 0, fileByte = 0, deviceByte = 0;
};

// Recognises `message` for a session whose data file is `fileName`, including its caption,
// icon and buttons and the grammar of its details. Empty when it is none of the system's.
std::optional<RecognisedText> recognise(const Message& message, const std::string& fileName);

// Whether a recognised text may appear while step `step` runs (0: the session start).
bool allowedAtStep(const RecognisedText& text, TransferStep step);

}  // namespace morva::fuzz
