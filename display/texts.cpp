#include "display/texts.h"

#include <array>
#include <cstddef>

namespace morva {

namespace {

constexpr std::array<std::string_view, 3> directionTexts{"Write to Vk350", "Read from Vk350",
                                                         "Veryfication"};
constexpr std::array<std::string_view, 3> kindTexts{"program", "libraries", "user data"};

constexpr std::string_view waiting = "Waiting . . .";
constexpr std::array<std::string_view, 10> statusWords{
    "", waiting, waiting, "Command", waiting, waiting, "Sending", waiting, "Receiving", ""};

// The entry at `index`, or empty text when the index lies outside the table.
template <std::size_t N>
std::string_view entry(const std::array<std::string_view, N>& table, long long index) {
  if (index < 0 || index >= static_cast<long long>(N)) return {};
  return table[static_cast<std::size_t>(index)];
}

}  // namespace

std::string_view directionText(Direction direction) {
  return entry(directionTexts, static_cast<int>(direction));
}

std::string_view kindText(DataKind kind) {
  return entry(kindTexts, static_cast<int>(kind));
}

std::string_view statusWord(TransferStep step) {
  return entry(statusWords, stepNumber(step));
}

std::string firmwareLine(std::string_view firmwareVersion, std::string_view secondVersion) {
  std::string line = "Firmware version : ";
  line += firmwareVersion;
  line += " | ";
  line += secondVersion;
  return line;
}

std::string sessionLine(Direction direction, DataKind kind) {
  std::string_view directionPart = directionText(direction);
  std::string_view kindPart = kindText(kind);
  if (directionPart.empty() || kindPart.empty()) return {};
  std::string line{directionPart};
  line += " : ";
  line += kindPart;
  return line;
}

std::string blockLine(std::uint16_t currentBlock, std::uint16_t blocksLeft,
                      std::uint16_t firstBlock) {
  const std::int32_t current = currentBlock;
  const std::int32_t first = firstBlock;
  const std::int32_t total = current + std::int32_t{blocksLeft} - first;
  // Once every block is counted the session still waits for the line to stay quiet: the line
  // then shows the last block, never one past the total.
  const std::int32_t index = blocksLeft == 0 ? total : current - first + 1;
  return "Block " + std::to_string(index) + " z " + std::to_string(total);
}

std::string statusLine(TransferStep step) {
  if (!sessionRunning(step)) return {};
  std::string line{statusWord(step)};
  line += '(';
  line += std::to_string(stepNumber(step));
  line += ')';
  return line;
}

std::string simulatedPortLabel(std::string_view path) {
  std::string label = "Simulated Vk350 (";
  label += path;
  label += ')';
  return label;
}

}  // namespace morva
