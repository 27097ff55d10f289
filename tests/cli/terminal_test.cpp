#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "frontends/cli/progress.h"
#include "frontends/cli/terminal_operator.h"
#include "frontends/cli/tracing_port.h"
#include "frontends/cli/user_path.h"
#include "tests/support/requests.h"

namespace morva::cli {
namespace {

struct ScriptedConsole : Console {
  bool terminal = false;
  std::deque<std::string> lines;
  bool inputIsTerminal() const override { return terminal; }
  bool errorIsTerminal() const override { return terminal; }
  std::optional<std::string> readLine() override {
    if (lines.empty()) return std::nullopt;
    auto l = lines.front();
    lines.pop_front();
    return l;
  }
  bool stopRequested() const override { return false; }
};

TEST(TerminalOperator, PrintsEveryBoxAsCaptionAndText) {
  ScriptedConsole console;
  std::ostringstream err;
  TerminalOperator op(console, err, false, "f.upg");
  op.showMessage({"Port open error !", "Warning", Icon::Warning, Buttons::Ok, false,
                  "Permission denied", true});
  EXPECT_EQ(err.str(), "Warning: Port open error !\nPermission denied\n");
}

TEST(TerminalOperator, AnswersQuestionsByYesTheTerminalOrTheDefault) {
  struct Case {
    bool yes;
    bool terminal;
    std::deque<std::string> typed;
    Answer expected;
  };
  const Case cases[] = {
      {true, false, {}, Answer::Yes},     // --yes
      {false, false, {}, Answer::No},     // nobody to ask: the default button
      {false, true, {"y"}, Answer::Yes},  // asked
      {false, true, {""}, Answer::No},    // Enter takes the default
      {false, true, {"maybe", "N"}, Answer::No},
      {false, true, {}, Answer::No},  // input closed
  };
  for (const auto& c : cases) {
    ScriptedConsole console;
    console.terminal = c.terminal;
    console.lines = c.typed;
    std::ostringstream err;
    TerminalOperator op(console, err, c.yes, "f.upg");
    EXPECT_EQ(op.showMessage(testing::overwriteQuestion()), c.expected) << err.str();
    EXPECT_NE(err.str().find("Warning: File x already exists !\nDo you want"), std::string::npos);
  }
}

TEST(TerminalOperator, ChoosesTheCommandLineFileAndJudgesItsExtension) {
  ScriptedConsole console;
  std::ostringstream err;
  TerminalOperator op(console, err, false, "/data/show.BIN");
  FileRequest request;
  request.defaultExtension = "usr";
  auto choice = op.chooseFile(request);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->path, "/data/show.BIN");
  EXPECT_TRUE(choice->extensionDifferent);
  request.defaultExtension = "bin";
  EXPECT_FALSE(op.chooseFile(request)->extensionDifferent);
}

// A path is joined to the working folder as typed: "sub/../x" goes where the kernel takes it,
// which is not "x" when sub is a link into another folder.
TEST(SessionPath, IsAbsoluteButNeverNormalisedAsText) {
  const std::string here = std::filesystem::current_path().string();
  const std::pair<std::string, std::string> rows[] = {
      {"/abs/../x.upg", "/abs/../x.upg"},
      {"sub/../data.BIN", here + "/sub/../data.BIN"},
      {"./x.upg", here + "/./x.upg"},
      {"../x.upg", here + "/../x.upg"},
  };
  for (const auto& [typed, used] : rows) {
    std::string why;
    EXPECT_EQ(sessionPath(typed, why), used) << typed;
  }
}
TEST(Progress, LineShowsBlocksPercentRateAndTimeLeft) {
  EXPECT_EQ(progressLine({0, 512, 0}, 10), "[          ]   0%  0/512 blocks");
  EXPECT_EQ(progressLine({256, 512, 10}, 10),
            "[#####     ]  50%  256/512 blocks  6.6 kB/s  0:10 left");
  EXPECT_EQ(progressLine({512, 512, 20}, 10),
            "[##########] 100%  512/512 blocks  6.6 kB/s  0:00 left");
  // A total that shrank below what is done (a file that ended early) never overflows the bar.
  EXPECT_EQ(progressLine({3, 2, 1}, 4).substr(0, 6), "[####]");
}

TEST(Progress, PlainOutputPrintsATenthAtATime) {
  std::ostringstream out;
  Progress p(out, false, "Write to Vk350 : program");
  p.start();
  for (int done = 0; done <= 512; ++done) p.update(done, 512);
  std::string text = out.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

// What a terminal shows of `output`: carriage returns go back to the line's start, and when
// `escapes` is set the erase code clears what follows; anything else is printed as it comes.
std::vector<std::string> screenOf(const std::string& output, bool escapes) {
  std::vector<std::string> lines{""};
  std::size_t column = 0;
  for (std::size_t i = 0; i < output.size(); ++i) {
    std::string& line = lines.back();
    if (escapes && output.compare(i, 3, "\x1b[K") == 0) {
      line.resize(column);
      i += 2;
    } else if (output[i] == '\r') {
      column = 0;
    } else if (output[i] == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      if (column >= line.size()) line.resize(column + 1, ' ');
      line[column++] = output[i];
    }
  }
  return lines;
}

// The line a message comes below shows the last count, also when its redraw was skipped, and a
// terminal without escape codes gets none: a shorter redraw is blanked to its end instead.
TEST(Progress, TheLineAboveAMessageShowsTheLastCountWithOrWithoutEscapeCodes) {
  struct Case {
    bool escapes;
    std::vector<int> counts;  // given in a row, faster than the line is redrawn
    std::vector<int> widths;  // the terminal's width at each redraw
    std::string shown;
  };
  const std::string title = "Write to Vk350 : program";
  const std::string fifth = title + "  [            ]   0%  5/512 blocks";
  const Case cases[] = {
      {true, {1, 2, 5}, {60}, fifth},
      {false, {1, 2, 5}, {60}, fifth},
      // The terminal narrowed: the shorter line must not keep the wider one's end.
      {false, {1, 512}, {60, 30}, " 100%  512/512 blocks"},
      {true, {1, 512}, {60, 30}, " 100%  512/512 blocks"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.counts) + (c.escapes ? " escapes" : " no escapes"));
    std::ostringstream out;
    std::size_t redraw = 0;
    Progress p(
        out, true, title, [&] { return c.widths[std::min(redraw++, c.widths.size() - 1)]; },
        c.escapes);
    p.start();
    for (int done : c.counts) p.update(done, 512);
    p.clear();
    out << "Fail: Acknowledgment error : got NAK\n";
    const std::vector<std::string> screen = screenOf(out.str(), c.escapes);
    ASSERT_EQ(screen.size(), 3u);
    EXPECT_EQ(screen[0].substr(0, screen[0].find_last_not_of(' ') + 1), c.shown);
    EXPECT_EQ(out.str().find('\x1b') != std::string::npos, c.escapes);
  }
}

TEST(Trace, FramesPrintAsLowercaseHex) {
  const std::uint8_t command[] = {0x11, 0x80, 0x03, 0x6c};
  EXPECT_EQ(traceLine("->", command), "-> 11 80 03 6c");
  EXPECT_EQ(traceLine("<-", {}), "<-");
}

}  // namespace
}  // namespace morva::cli
