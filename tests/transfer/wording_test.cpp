// Every box a session shows, from the value it records: the one table of the system's texts.
#include "transfer/wording.h"

#include <gtest/gtest.h>

#include "transfer/frames.h"

namespace morva {
namespace {

using enum FailureKind;
constexpr auto step5 = TransferStep::AwaitCommandAnswer;

TEST(Wording, EveryFailureHasItsTextCaptionIconAndDetail) {
  const OsError full{28, "No space left on device", FailureCause::Other};
  const OsError gone{5, "Input/output error", FailureCause::Vanished};
  struct Row {
    Failure failure;
    const char* caption;
    Icon icon;
    std::string text;
    std::string detail;
  };
  const Row rows[] = {
      {{.kind = NoPort}, "Warning", Icon::Warning, "You must choose available serial port !", ""},
      {{.kind = ExtensionChanged, .path = "/d/a.txt"},
       "Warning",
       Icon::Error,
       "Don't change file extension !",
       ""},
      {{.kind = FileMissing, .path = "/d/a.upg"},
       "Warning",
       Icon::Error,
       "File /d/a.upg doesn't exist !",
       ""},
      {{.kind = WriteAccessDenied, .path = "/d/a.upg"},
       "Fail",
       Icon::Error,
       "/d/a.upg :\nWrite access denied !",
       ""},
      {{.kind = FileOpen}, "Fail", Icon::Error, "File open error !", ""},
      {{.kind = FileOpen, .path = "/d/a.upg", .error = {0, "a folder, not a file", {}}},
       "Fail",
       Icon::Error,
       "File open error !",
       "/d/a.upg: a folder, not a file"},
      {{.kind = Communication, .error = gone}, "Fail", Icon::Error, "Communication error : 5", ""},
      {{.kind = PortError, .step = step5, .error = gone},
       "Fail",
       Icon::Error,
       "Error code : 5",
       ""},
      {{.kind = Initialization, .answer = AnswerFault::NoData, .count = 0},
       "Fail",
       Icon::Error,
       "Initialization error : no data : 0",
       ""},
      {{.kind = Initialization, .answer = AnswerFault::Checksum, .byte = 0xff},
       "Fail",
       Icon::Error,
       "Initialization error : checksum : ff",
       ""},
      {{.kind = Acknowledgment, .answer = AnswerFault::Nak},
       "Fail",
       Icon::Error,
       "Acknowledgment error : got NAK",
       ""},
      {{.kind = Acknowledgment, .answer = AnswerFault::IllegalByte, .byte = 0x05},
       "Fail",
       Icon::Error,
       "Acknowledgment error : illegal ACK :  5",
       ""},
      {{.kind = Transmission, .answer = AnswerFault::IllegalByte, .byte = 0xa0},
       "Fail",
       Icon::Error,
       "Transmission error : illegal ACK : a0",
       ""},
      {{.kind = Transmission, .answer = AnswerFault::NoData, .count = 200},
       "Fail",
       Icon::Error,
       "Transmission error : no data : 200",
       ""},
      {{.kind = Transmission, .answer = AnswerFault::Checksum, .byte = 1},
       "Fail",
       Icon::Error,
       "Transmission error : checksum : 1",
       ""},
      {{.kind = FileRead, .path = "/d/a.upg", .error = gone},
       "Fail",
       Icon::Error,
       "File read error !",
       "/d/a.upg: Input/output error"},
      {{.kind = FileWrite, .path = "/d/a.upg", .error = full},
       "Fail",
       Icon::Error,
       "File write error !",
       "/d/a.upg: No space left on device"},
  };
  for (const Row& row : rows) {
    const Message m = failureMessage(row.failure);
    EXPECT_EQ(m.text, row.text);
    EXPECT_EQ(m.caption, row.caption) << row.text;
    EXPECT_EQ(m.icon, row.icon) << row.text;
    EXPECT_EQ(m.buttons, Buttons::Ok) << row.text;
    EXPECT_EQ(m.detail, row.detail) << row.text;
  }
}

TEST(Wording, AOneByteAnswerIsMissingDataARefusalOrAnIllegalByte) {
  struct Row {
    std::size_t count;
    std::uint8_t byte;
    AnswerFault fault;
    std::size_t countKept;
    std::uint8_t byteKept;
  };
  for (const Row& r :
       {Row{0, ACK, AnswerFault::NoData, 0, 0}, Row{2, NAK, AnswerFault::NoData, 2, 0},
        Row{1, NAK, AnswerFault::Nak, 0, 0}, Row{1, 0x41, AnswerFault::IllegalByte, 0, 0x41}}) {
    const Failure f = answerFailure(Transmission, step5, r.count, r.byte);
    EXPECT_EQ(f, (Failure{.kind = Transmission,
                          .step = step5,
                          .answer = r.fault,
                          .count = r.countKept,
                          .byte = r.byteKept}))
        << r.count << " " << int{r.byte};
  }
}

TEST(Wording, QuestionsDefaultToNo) {
  const Message overwrite = overwriteQuestion("/d/a.upg");
  EXPECT_EQ(overwrite.text, "File /d/a.upg already exists !\nDo you want overwrite the file ?");
  const Message difference = differenceQuestion(897, 5, 17, 255);
  EXPECT_EQ(difference.text, "Veryfication error : block 897 pos. 5\n17, 255\nContinue ?");
  for (const Message& m : {overwrite, difference}) {
    EXPECT_EQ(m.caption, "Warning");
    EXPECT_EQ(m.icon, Icon::Question);
    EXPECT_EQ(m.buttons, Buttons::YesNo);
    EXPECT_TRUE(m.secondIsDefault);
  }
}

}  // namespace
}  // namespace morva
