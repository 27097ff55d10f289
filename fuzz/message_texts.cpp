#include "fuzz/message_texts.h"

#include <string_view>

namespace morva::fuzz {

namespace {

// A cursor over a text that takes literal parts and numbers off its front.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : rest_(text) {}
  bool literal(std::string_view part) {
    if (rest_.substr(0, part.size()) != part) return false;
    rest_.remove_prefix(part.size());
    return true;
  }
  // Decimal without leading zeros ("0" itself allowed).
  std::optional<unsigned> decimal() {
    std::size_t n = 0;
    while (n < rest_.size() && n < 10 && rest_[n] >= '0' && rest_[n] <= '9') ++n;
    if (n == 0 || (n > 1 && rest_[0] == '0')) return std::nullopt;
    unsigned long value = 0;
    for (std::size_t i = 0; i < n; ++i) value = value * 10 + static_cast<unsigned>(rest_[i] - '0');
    rest_.remove_prefix(n);
    if (value > 0xFFFFFFFFul) return std::nullopt;
    return static_cast<unsigned>(value);
  }
  std::optional<unsigned> hexDigit() {
    if (rest_.empty()) return std::nullopt;
    const char c = rest_[0];
    unsigned v = 0;
    if (c >= '0' && c <= '9')
      v = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      v = static_cast<unsigned>(c - 'a' + 10);
    else
      return std::nullopt;
    rest_.remove_prefix(1);
    return v;
  }
  bool atEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// "illegal ACK : " takes a byte as two characters: a blank and a digit below 16.
std::optional<unsigned> paddedHexByte(Cursor& c) {
  if (c.literal(" ")) return c.hexDigit();
  const auto high = c.hexDigit();
  if (!high || *high == 0) return std::nullopt;
  const auto low = c.hexDigit();
  if (!low) return std::nullopt;
  return *high * 16 + *low;
}

// The residue as lowercase hex without padding; never 0, since 0 is a valid frame.
std::optional<unsigned> residue(Cursor& c) {
  const auto high = c.hexDigit();
  if (!high || *high == 0) return std::nullopt;
  if (c.atEnd()) return high;
  const auto low = c.hexDigit();
  if (!low) return std::nullopt;
  return *high * 16 + *low;
}

// One of the details; false when the rest of the text is none of them.
bool parseDetail(Cursor& c, RecognisedText& r) {
  std::optional<unsigned> n;
  if (c.literal("no data : ")) {
    r.detail = Detail::NoData;
    n = c.decimal();
  } else if (c.literal("got NAK")) {
    r.detail = Detail::Nak;
    n = 0;
  } else if (c.literal("illegal ACK : ")) {
    r.detail = Detail::IllegalAck;
    n = paddedHexByte(c);
  } else if (c.literal("checksum : ")) {
    r.detail = Detail::Checksum;
    n = residue(c);
  }
  if (!n || !c.atEnd()) return false;
  r.number = *n;
  return true;
}

bool parseVerification(Cursor& c, RecognisedText& r) {
  const auto block = c.decimal();
  if (!block || !c.literal(" pos. ")) return false;
  const auto position = c.decimal();
  if (!position || !c.literal("\n")) return false;
  const auto fileByte = c.decimal();
  if (!fileByte || !c.literal(", ")) return false;
  const auto deviceByte = c.decimal();
  if (!deviceByte || !c.literal("\nContinue ?") || !c.atEnd()) return false;
  r.block = *block;
  r.position = *position;
  r.fileByte = *fileByte;
  r.deviceByte = *deviceByte;
  return true;
}

// The text alone, without looking at caption, icon or buttons.
std::optional<RecognisedText> recogniseText(const std::string& text, const std::string& name) {
  RecognisedText r;
  auto is = [&](Text t) {
    r.text = t;
    return std::optional<RecognisedText>(r);
  };
  if (text == "You must choose available serial port !") return is(Text::NoPort);
  if (text == "Don't change file extension !") return is(Text::ExtensionChanged);
  if (text == "File " + name + " already exists !\nDo you want overwrite the file ?")
    return is(Text::OverwriteQuestion);
  if (text == "File " + name + " doesn't exist !") return is(Text::FileMissing);
  if (text == name + " :\nWrite access denied !") return is(Text::WriteAccessDenied);
  if (text == "File open error !") return is(Text::OpenError);
  if (text == "File read error !") return is(Text::ReadError);
  if (text == "File write error !") return is(Text::WriteError);

  Cursor c(text);
  for (const auto& [prefix, t] : {std::pair{"Communication error : ", Text::CommunicationError},
                                  std::pair{"Error code : ", Text::ErrorCode}}) {
    if (!c.literal(prefix)) continue;
    const auto n = c.decimal();
    if (!n || !c.atEnd()) return std::nullopt;
    r.number = *n;
    return is(t);
  }
  for (const auto& [prefix, t] : {std::pair{"Initialization error : ", Text::InitializationError},
                                  std::pair{"Acknowledgment error : ", Text::AcknowledgmentError},
                                  std::pair{"Transmission error : ", Text::TransmissionError}}) {
    if (!c.literal(prefix)) continue;
    if (!parseDetail(c, r)) return std::nullopt;
    return is(t);
  }
  if (c.literal("Veryfication error : block ") && parseVerification(c, r))
    return is(Text::Verification);
  return std::nullopt;
}

struct Presentation {
  const char* caption;
  Icon icon;
  Buttons buttons;
};

Presentation presentationOf(Text text) {
  switch (text) {
    case Text::NoPort:
      return {"Warning", Icon::Warning, Buttons::Ok};
    case Text::ExtensionChanged:
    case Text::FileMissing:
      return {"Warning", Icon::Error, Buttons::Ok};
    case Text::OverwriteQuestion:
    case Text::Verification:
      return {"Warning", Icon::Question, Buttons::YesNo};
    default:
      return {"Fail", Icon::Error, Buttons::Ok};
  }
}

// A one-byte answer's detail: a short read (only 0 bytes can be short of 1), NAK, or another
// byte than ACK and NAK.
bool isAnswerDetail(const RecognisedText& r, unsigned expected) {
  switch (r.detail) {
    case Detail::NoData:
      return r.number < expected;
    case Detail::Nak:
      return true;
    case Detail::IllegalAck:
      return r.number != 0x06 && r.number != 0x15;
    default:
      return false;
  }
}

}  // namespace

std::optional<RecognisedText> recognise(const Message& message, const std::string& fileName) {
  auto r = recogniseText(message.text, fileName);
  if (!r) return std::nullopt;
  const Presentation p = presentationOf(r->text);
  if (message.caption != p.caption || message.icon != p.icon || message.buttons != p.buttons)
    return std::nullopt;
  // Every question has No as its default button.
  if (message.buttons == Buttons::YesNo && !message.secondIsDefault) return std::nullopt;
  return r;
}

bool allowedAtStep(const RecognisedText& r, TransferStep step) {
  using enum TransferStep;
  switch (r.text) {
    case Text::NoPort:
    case Text::ExtensionChanged:
    case Text::OverwriteQuestion:
    case Text::FileMissing:
    case Text::WriteAccessDenied:
    case Text::CommunicationError:
      return step == Idle;
    case Text::OpenError:
      return step == Idle ||
             step == AwaitIdentification;  // a read's target is emptied once the device answered
    case Text::ErrorCode:
      return step == AwaitWakeUpSent || step == AwaitIdentification ||
             (stepNumber(step) >= stepNumber(AwaitCommandSent) &&
              stepNumber(step) <= stepNumber(AwaitDataFrame));
    case Text::InitializationError:
      return step == AwaitIdentification && (r.detail == Detail::Checksum || isAnswerDetail(r, 6));
    case Text::AcknowledgmentError:  // before a command: input nobody asked for
      return (step == AwaitCommandAnswer && isAnswerDetail(r, 1)) ||
             (step == SendCommand && r.detail == Detail::IllegalAck);
    case Text::TransmissionError:
      if (step == AwaitDataAnswer) return isAnswerDetail(r, 1);
      // Before a data frame, and after the session's last answer: input nobody asked for.
      if (step == AwaitCommandAnswer || step == CountBlock) return r.detail == Detail::IllegalAck;
      return step == AwaitDataFrame &&
             (r.detail == Detail::Checksum || r.detail == Detail::IllegalAck ||
              (r.detail == Detail::NoData && r.number < 257));
    case Text::ReadError:
      return step == AwaitCommandAnswer || step == AwaitDataFrame;
    case Text::WriteError:  // at the identification: the target's path names another file
      return step == AwaitIdentification || step == AwaitDataFrame || step == CountBlock;
    case Text::Verification:
      return step == AwaitDataFrame && r.position < 256 && r.fileByte < 256 && r.deviceByte < 256 &&
             r.fileByte != r.deviceByte;
  }
  return false;
}

}  // namespace morva::fuzz
