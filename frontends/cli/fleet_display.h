// What a run on many controllers shows while it goes: on a terminal one line per port redrawn
// in place; elsewhere one whole line per port and event, so that lines of different ports
// never mix. And the table that ends the run.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace morva::cli {

// One port's line as the display shows it.
struct FleetRow {
  std::string port;
  std::string versions;  // "2.05 1.10", empty until the device answered
  int done = 0, total = 0;
  std::string state;  // what it does ("Write to Vk350 : program") or how it ended
};

// "PORT  VERSIONS  [####    ]  40%  205/512  STATE", fitted into `columns` (0: no limit), the
// bar narrowed first, the state cut last.
std::string fleetLine(const FleetRow& row, std::size_t portWidth, int columns);

class FleetDisplay {
 public:
  FleetDisplay(std::ostream& out, bool terminal, std::function<int()> columns);
  // The rows as they stand: on a terminal all of them redrawn (at most ten times a second
  // unless `now`), elsewhere only what changed, as event lines.
  void show(const std::vector<FleetRow>& rows, bool now = false);
  // Leaves the redrawn lines above whatever is printed next.
  void close();

 private:
  void redraw(const std::vector<FleetRow>& rows);
  void tellChanges(const std::vector<FleetRow>& rows);

  std::ostream& out_;
  bool terminal_;
  std::function<int()> columns_;
  std::size_t drawn_ = 0;  // lines on the terminal
  std::chrono::steady_clock::time_point lastDraw_;
  std::vector<FleetRow> told_;  // what the event lines said last, per port
};

// The closing table: port, versions, outcome, blocks, time, and the file's SHA-256.
struct FleetResult {
  std::string port, versions, outcome, blocks, time, sha256;
};
std::string fleetTable(const std::vector<FleetResult>& results);

}  // namespace morva::cli
