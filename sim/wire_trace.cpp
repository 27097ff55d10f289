#include "sim/wire_trace.h"

#include <cstdio>
#include <utility>

namespace morva::sim {

std::string hexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
  }
  return text;
}

WireTrace::WireTrace(TraceSink sink)
    : sink_(std::move(sink)), origin_(std::chrono::steady_clock::now()) {}

std::string WireTrace::stamp() const {
  using namespace std::chrono;
  const auto micros = duration_cast<microseconds>(steady_clock::now() - origin_).count();
  char text[32];
  std::snprintf(text, sizeof text, "[%6lld.%03lld] ", static_cast<long long>(micros / 1000),
                static_cast<long long>(micros % 1000));
  return text;
}

void WireTrace::frame(WireDirection direction, std::span<const std::uint8_t> bytes,
                      std::string_view note) {
  if (!sink_) return;
  std::string line = stamp();
  line += direction == WireDirection::ToDevice ? "PC->DEV " : "DEV->PC ";
  line += bytes.empty() ? std::string("-") : hexBytes(bytes);
  if (!note.empty()) {
    line += "  ";
    line += note;
  }
  sink_(line);
}

void WireTrace::event(std::string_view text) {
  if (!sink_) return;
  std::string line = stamp();
  line += text;
  sink_(line);
}

}  // namespace morva::sim
