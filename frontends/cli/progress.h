// The transfer's progress on a terminal: one line redrawn in place, never wider than the
// terminal; elsewhere a plain line at every tenth of the session.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace morva::cli {

struct ProgressFigures {
  int done = 0;   // blocks completed
  int total = 0;  // blocks in the session
  double seconds = 0;
};

// "[########            ]  40%  205/512 blocks  13.1 kB/s  0:05 left"; a bar of `barWidth`
// (0: none), and the rate only when asked for and known.
std::string progressLine(const ProgressFigures& f, int barWidth = 24, bool withRate = true);

// The widest form of "TITLE  progressLine" that fits in `columns` (0: no limit): first the
// rate goes, then half the bar, then the title, then the bar; what still does not fit is cut.
// The last column stays free, as some terminals wrap on it.
std::string fittedProgress(const std::string& title, const ProgressFigures& f, int columns);

class Progress {
 public:
  // `columns` tells the terminal's width at each redraw (0: unknown). A terminal that does not
  // take escape codes (`escapes` false) has the rest of a shorter redraw blanked with spaces.
  Progress(
      std::ostream& out, bool terminal, std::string title,
      std::function<int()> columns = [] { return 0; }, bool escapes = true);
  // Starts the clock.
  void start();
  void update(int done, int total);
  // Brings the line up to the last count it was given (a redraw may have been skipped), then
  // leaves it, ready for a message below it.
  void clear();
  void finish(int done, int total);

 private:
  double elapsed() const;
  void draw(int done, int total);

  std::ostream& out_;
  bool terminal_;
  std::string title_;
  std::function<int()> columns_;
  bool escapes_;
  bool started_ = false;
  bool lineOpen_ = false;
  int lastTenth_ = -1;
  int given_ = -1, givenTotal_ = 0;  // the last count update() was given
  int shown_ = -1;                   // the count the output shows
  std::size_t drawnWidth_ = 0;       // the characters of the line on the terminal
  std::chrono::steady_clock::time_point begin_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace morva::cli
