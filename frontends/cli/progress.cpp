#include "frontends/cli/progress.h"

#include <algorithm>
#include <cstdio>

namespace morva::cli {
namespace {

std::string minutesSeconds(double s) {
  long t = static_cast<long>(s + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", t / 60, t % 60);
  return text;
}

}  // namespace

std::string progressLine(const ProgressFigures& f, int barWidth, bool withRate) {
  int total = f.total > 0 ? f.total : 1;
  int done = f.done < 0 ? 0 : (f.done > total ? total : f.done);
  std::string line;
  if (barWidth > 0) {
    int filled = done * barWidth / total;
    line = "[";
    line.append(filled, '#').append(barWidth - filled, ' ').append("]");
  }
  char text[96];
  std::snprintf(text, sizeof text, " %3d%%  %d/%d blocks", done * 100 / total, done, f.total);
  line += text;
  if (withRate && f.seconds > 0 && done > 0) {
    double kBps = done * 256.0 / 1000.0 / f.seconds;
    double left = (total - done) * f.seconds / done;
    std::snprintf(text, sizeof text, "  %.1f kB/s  %s left", kBps, minutesSeconds(left).c_str());
    line += text;
  }
  return line;
}

std::string fittedProgress(const std::string& title, const ProgressFigures& f, int columns) {
  const std::string head = title + "  ";
  const std::string forms[] = {head + progressLine(f, 24, true), head + progressLine(f, 24, false),
                               head + progressLine(f, 12, false), progressLine(f, 12, false),
                               progressLine(f, 0, false)};
  if (columns <= 0) return forms[0];
  const std::size_t room = static_cast<std::size_t>(columns > 1 ? columns - 1 : 1);
  for (const std::string& form : forms)
    if (form.size() <= room) return form;
  return forms[std::size(forms) - 1].substr(0, room);
}

Progress::Progress(std::ostream& out, bool terminal, std::string title,
                   std::function<int()> columns, bool escapes)
    : out_(out),
      terminal_(terminal),
      title_(std::move(title)),
      columns_(std::move(columns)),
      escapes_(escapes) {}

void Progress::start() {
  if (started_) return;
  started_ = true;
  begin_ = std::chrono::steady_clock::now();
  lastDraw_ = begin_ - std::chrono::seconds(1);
}

double Progress::elapsed() const {
  if (!started_) return 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
}

void Progress::update(int done, int total) {
  given_ = done;
  givenTotal_ = total;
  if (terminal_) {
    auto now = std::chrono::steady_clock::now();
    // Redrawing more often than the eye can follow only costs the terminal time.
    if (now - lastDraw_ < std::chrono::milliseconds(100) && done != total) return;
    lastDraw_ = now;
    draw(done, total);
    return;
  }
  int tenth = total > 0 ? done * 10 / total : 0;
  if (tenth == lastTenth_) return;
  lastTenth_ = tenth;
  draw(done, total);
}

void Progress::draw(int done, int total) {
  shown_ = done;
  const ProgressFigures f{done, total, elapsed()};
  if (!terminal_) {
    out_ << title_ << "  " << progressLine(f) << '\n' << std::flush;
    return;
  }
  // Measured at every redraw: the terminal may have been resized meanwhile.
  const std::string line = fittedProgress(title_, f, columns_());
  out_ << '\r' << line;
  if (escapes_)
    out_ << "\x1b[K";  // erases what a longer line left
  else if (line.size() < drawnWidth_)
    out_ << std::string(drawnWidth_ - line.size(), ' ');
  out_ << std::flush;
  drawnWidth_ = std::max(drawnWidth_, line.size());
  lineOpen_ = true;
}

void Progress::clear() {
  // A failure comes between two redraws: the count above its message is the last one.
  if (given_ >= 0 && given_ != shown_) draw(given_, givenTotal_);
  if (!lineOpen_) return;
  out_ << '\n' << std::flush;
  lineOpen_ = false;
  drawnWidth_ = 0;
}

void Progress::finish(int done, int total) {
  lastDraw_ = {};
  update(done, total);
  clear();
}

}  // namespace morva::cli
