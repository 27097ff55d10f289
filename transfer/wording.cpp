#include "transfer/wording.h"

#include <cstdio>
#include <string_view>

#include "transfer/engine.h"
#include "transfer/frames.h"

namespace morva {
namespace {

Message box(std::string text, std::string caption, Icon icon, Buttons buttons = Buttons::Ok) {
  Message message;
  message.text = std::move(text);
  message.caption = std::move(caption);
  message.icon = icon;
  message.buttons = buttons;
  message.secondIsDefault = buttons == Buttons::YesNo;  // No is a question's default
  return message;
}

// "illegal ACK : " and the byte in lowercase hexadecimal, blank-padded to two characters.
std::string illegalByteText(std::uint8_t byte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%2x", static_cast<unsigned>(byte));
  return std::string("illegal ACK : ") + hex;
}

// What follows the prefix of the three kinds about answers.
std::string answerText(const Failure& failure) {
  switch (failure.answer) {
    case AnswerFault::NoData:
      return "no data : " + std::to_string(failure.count);
    case AnswerFault::Nak:
      return "got NAK";
    case AnswerFault::IllegalByte:
      return illegalByteText(failure.byte);
    case AnswerFault::Checksum: {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(failure.byte));
      return std::string("checksum : ") + hex;
    }
    case AnswerFault::None:
      break;
  }
  return {};
}

Message fail(std::string text) {
  return box(std::move(text), "Fail", Icon::Error);
}

// A failure about the data file: its path and the reason as the detail, where it is known.
Message fileFailure(std::string text, const Failure& failure) {
  Message message = fail(std::move(text));
  if (!failure.path.empty()) message.detail = describeFailure(failure.path, failure.error);
  return message;
}

std::string numberOf(const OsError& error) {
  return std::to_string(static_cast<unsigned>(error.number));
}

}  // namespace

Failure answerFailure(FailureKind kind, TransferStep step, std::size_t count, std::uint8_t byte) {
  Failure failure{.kind = kind, .step = step, .answer = AnswerFault::IllegalByte, .byte = byte};
  if (count != 1) {
    failure.answer = AnswerFault::NoData;
    failure.count = count;
    failure.byte = 0;
  } else if (byte == NAK) {
    failure.answer = AnswerFault::Nak;
    failure.byte = 0;
  }
  return failure;
}

Message failureMessage(const Failure& failure) {
  switch (failure.kind) {
    case FailureKind::NoPort:
      return box("You must choose available serial port !", "Warning", Icon::Warning);
    case FailureKind::ExtensionChanged:
      return box("Don't change file extension !", "Warning", Icon::Error);
    case FailureKind::FileMissing: {
      Message message = box("File " + failure.path + " doesn't exist !", "Warning", Icon::Error);
      if (failure.error.number != 0) message.detail = describeFailure(failure.path, failure.error);
      return message;
    }
    case FailureKind::WriteAccessDenied:
      return fail(failure.path + " :\nWrite access denied !");
    case FailureKind::FileOpen:
      return fileFailure("File open error !", failure);
    case FailureKind::Communication:
      return fail("Communication error : " + numberOf(failure.error));
    case FailureKind::PortError:
      return fail("Error code : " + numberOf(failure.error));
    case FailureKind::Initialization:
      return fail("Initialization error : " + answerText(failure));
    case FailureKind::Acknowledgment:
      return fail("Acknowledgment error : " + answerText(failure));
    case FailureKind::Transmission:
      return fail("Transmission error : " + answerText(failure));
    case FailureKind::FileRead:
      return fileFailure("File read error !", failure);
    case FailureKind::FileWrite:
      return fileFailure("File write error !", failure);
  }
  return fail("");
}

Message overwriteQuestion(const std::string& path) {
  return box("File " + path + " already exists !\nDo you want overwrite the file ?", "Warning",
             Icon::Question, Buttons::YesNo);
}

Message differenceQuestion(unsigned shownBlock, std::size_t position, std::uint8_t fileByte,
                           std::uint8_t deviceByte) {
  return box(std::string(verificationQuestion) + std::to_string(shownBlock) + " pos. " +
                 std::to_string(position) + "\n" + std::to_string(fileByte) + ", " +
                 std::to_string(deviceByte) + "\nContinue ?",
             "Warning", Icon::Question, Buttons::YesNo);
}

}  // namespace morva
