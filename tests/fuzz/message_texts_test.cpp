// The fuzz harness's oracle for message texts: it must accept every text the system shows
// and refuse near misses, or the fuzzer would either cry wolf or miss a wrong text.
#include "fuzz/message_texts.h"

#include <gtest/gtest.h>

namespace morva::fuzz {
namespace {

Message fail(std::string text) {
  return Message{std::move(text), "Fail", Icon::Error, Buttons::Ok, false, {}, true};
}

Message question(std::string text) {
  return Message{std::move(text), "Warning", Icon::Question, Buttons::YesNo, true, {}, true};
}

TEST(MessageTexts, RecognisesTheSystemsTextsAndRefusesNearMisses) {
  const std::string name = "/tmp/x/data.upg";
  struct Case {
    Message message;
    int step;
    bool accepted;
  };
  const Case cases[] = {
      {fail("Initialization error : illegal ACK :  5"), 2, true},
      {fail("Initialization error : illegal ACK : a0"), 2, true},
      {fail("Initialization error : illegal ACK : 5"), 2, false},
      {fail("Initialization error : illegal ACK : 05"), 2, false},
      {fail("Initialization error : illegal ACK :  6"), 2, false},  // ACK is not illegal
      {fail("Initialization error : checksum : ff"), 2, true},
      {fail("Initialization error : checksum : 0f"), 2, false},
      {fail("Initialization error : checksum : FF"), 2, false},
      {fail("Initialization error : no data : 6"), 2, false},  // six bytes are a whole reply
      {fail("Acknowledgment error : no data : 0"), 5, true},
      {fail("Acknowledgment error : no data : 1"), 5, false},
      {fail("Acknowledgment error : checksum : 1"), 5, false},
      {fail("Transmission error : no data : 200"), 8, true},
      {fail("Transmission error : no data : 257"), 8, false},
      {fail("Transmission error : checksum : 10"), 8, true},
      {fail("Transmission error : checksum : 10"), 7, false},  // an answer byte has no checksum
      {fail("Transmission error : got NAK"), 7, true},
      {fail("Error code : 5"), 4, true},
      {fail("Error code : 05"), 4, false},
      {fail("Error code : 5"), 3, false},  // step 3 polls nothing
      {fail("Error code : 5"), 9, false},
      {Message{"Error code : 5", "Warning", Icon::Error, Buttons::Ok, false, {}, true}, 4, false},
      {fail("File write error !"), 9, true},
      {fail("File open error !"), 2, true},
      {fail("File open error !"), 5, false},
      {question("Veryfication error : block 897 pos. 5\n17, 255\nContinue ?"), 8, true},
      {question("Veryfication error : block 897 pos. 5\n17, 17\nContinue ?"), 8, false},
      {question("Veryfication error : block 897 pos. 5\n17, 255"), 8, false},
      {question("Verification error : block 897 pos. 5\n17, 255\nContinue ?"), 8, false},
      {Message{"Veryfication error : block 897 pos. 5\n17, 255\nContinue ?",
               "Warning",
               Icon::Question,
               Buttons::YesNo,
               false,
               {},
               true},
       8, false},  // Yes must not be the default
      {question("File " + name + " already exists !\nDo you want overwrite the file ?"), 0, true},
      {question("File /tmp/y.upg already exists !\nDo you want overwrite the file ?"), 0, false},
      {fail(name + " :\nWrite access denied !"), 0, true},
      {Message{"File " + name + " doesn't exist !",
               "Warning",
               Icon::Error,
               Buttons::Ok,
               false,
               {},
               true},
       0, true},
      {Message{"You must choose available serial port !",
               "Warning",
               Icon::Warning,
               Buttons::Ok,
               false,
               {},
               true},
       0, true},
      {fail("Communication error : 11"), 0, true},
      {fail("Communication error : 11"), 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.caption + ": " + c.message.text + " at step " + std::to_string(c.step));
    const auto recognised = recognise(c.message, name);
    EXPECT_EQ(
        recognised.has_value() && allowedAtStep(*recognised, static_cast<TransferStep>(c.step)),
        c.accepted);
  }
}

TEST(MessageTexts, ParsesTheNumbersOfAVerificationQuestion) {
  const auto r =
      recognise(question("Veryfication error : block 4096 pos. 255\n0, 90\nContinue ?"), "");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->text, Text::Verification);
  EXPECT_EQ(r->block, 4096u);
  EXPECT_EQ(r->position, 255u);
  EXPECT_EQ(r->fileByte, 0u);
  EXPECT_EQ(r->deviceByte, 90u);
}

}  // namespace
}  // namespace morva::fuzz
