#include "frontends/cli/fleet_display.h"

#include <algorithm>
#include <cstdio>

#include "record/session_log.h"

namespace morva::cli {
namespace {

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string bar(const FleetRow& row, int width) {
  const int total = row.total > 0 ? row.total : 1;
  const int done = std::clamp(row.done, 0, total);
  const int filled = done * width / total;
  std::string text = "[";
  text.append(static_cast<std::size_t>(filled), '#');
  text.append(static_cast<std::size_t>(width - filled), ' ');
  char figures[48];
  std::snprintf(figures, sizeof figures, "] %3d%%  %d/%d", done * 100 / total, done, row.total);
  return text + figures;
}

// The tenth of the session a row stands at, for the event lines.
int tenth(const FleetRow& row) {
  return row.total > 0 ? std::clamp(row.done, 0, row.total) * 10 / row.total : 0;
}

}  // namespace

std::string fleetLine(const FleetRow& row, std::size_t portWidth, int columns) {
  const std::string head = padded(row.port, portWidth) + "  " + padded(row.versions, 9) + "  ";
  const std::string tail = row.total > 0 ? "  " + row.state : row.state;
  for (const int width : {24, 12, 6}) {
    const std::string line = head + (row.total > 0 ? bar(row, width) : "") + tail;
    if (columns <= 0 || line.size() < static_cast<std::size_t>(columns)) return line;
  }
  // The last column stays free: some terminals wrap on it.
  const std::string line = head + (row.total > 0 ? bar(row, 6) : "") + tail;
  return line.substr(0, static_cast<std::size_t>(std::max(columns - 1, 1)));
}

FleetDisplay::FleetDisplay(std::ostream& out, bool terminal, std::function<int()> columns)
    : out_(out), terminal_(terminal), columns_(std::move(columns)) {}

void FleetDisplay::show(const std::vector<FleetRow>& rows, bool now) {
  if (!terminal_) return tellChanges(rows);
  const auto at = std::chrono::steady_clock::now();
  if (!now && drawn_ > 0 && at - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = at;
  redraw(rows);
}

void FleetDisplay::redraw(const std::vector<FleetRow>& rows) {
  std::size_t width = 0;
  for (const FleetRow& row : rows) width = std::max(width, row.port.size());
  if (drawn_ > 0) out_ << "\x1b[" << drawn_ << "A";  // back to the first line
  for (const FleetRow& row : rows) out_ << '\r' << fleetLine(row, width, columns_()) << "\x1b[K\n";
  drawn_ = rows.size();
  out_.flush();
}

void FleetDisplay::tellChanges(const std::vector<FleetRow>& rows) {
  told_.resize(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const FleetRow& row = rows[i];
    FleetRow& said = told_[i];
    if (row.state != said.state && !row.state.empty())
      out_ << row.port << ": " << row.state
           << (row.versions.empty() ? "" : " (" + row.versions + ")") << '\n';
    else if (row.total > 0 && tenth(row) != tenth(said) && row.done < row.total)
      out_ << row.port << ": " << row.done << "/" << row.total << " blocks\n";
    said = row;
  }
  out_.flush();
}

void FleetDisplay::close() {
  drawn_ = 0;
}

std::string fleetTable(const std::vector<FleetResult>& results) {
  std::vector<std::vector<std::string>> rows{
      {"port", "versions", "outcome", "blocks", "time", "sha256"}};
  for (const FleetResult& r : results)
    rows.push_back({r.port, r.versions, r.outcome, r.blocks, r.time, r.sha256});
  return alignedColumns(rows);
}

}  // namespace morva::cli
