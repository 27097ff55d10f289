#include "sim/fault.h"

#include <array>
#include <charconv>
#include <utility>

namespace morva::sim {
namespace {

constexpr std::array<std::pair<FaultAction, std::string_view>, 11> actionNames{{
    {FaultAction::Nak, "nak"},
    {FaultAction::Illegal, "illegal"},
    {FaultAction::Silence, "silence"},
    {FaultAction::Short, "short"},
    {FaultAction::Corrupt, "corrupt"},
    {FaultAction::Pause, "pause"},
    {FaultAction::Late, "late"},
    {FaultAction::Twice, "twice"},
    {FaultAction::Garbage, "garbage"},
    {FaultAction::Vanish, "vanish"},
    {FaultAction::Hold, "hold"},
}};

constexpr std::array<std::pair<FaultStep, std::string_view>, 3> stepNames{{
    {FaultStep::WakeUp, "wakeup"},
    {FaultStep::Command, "command"},
    {FaultStep::Data, "data"},
}};

template <typename T, std::size_t N>
std::optional<T> lookUp(const std::array<std::pair<T, std::string_view>, N>& names,
                        std::string_view text) {
  for (const auto& [value, name] : names) {
    if (name == text) return value;
  }
  return std::nullopt;
}

template <typename T, std::size_t N>
std::string_view nameOf(const std::array<std::pair<T, std::string_view>, N>& names, T value) {
  for (const auto& [v, name] : names) {
    if (v == value) return name;
  }
  return "?";
}

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
std::optional<unsigned long> parseNumber(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned long value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// Splits `text` at the first `mark`: the part before stays in `text`, the rest is returned.
std::optional<std::string_view> cutAt(std::string_view& text, char mark) {
  const auto at = text.find(mark);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(at + 1);
  text = text.substr(0, at);
  return rest;
}

enum class ValueKind { None, Byte, Count, Millis };

ValueKind valueKind(FaultAction action) {
  switch (action) {
    case FaultAction::Illegal:
    case FaultAction::Corrupt:
      return ValueKind::Byte;
    case FaultAction::Short:
    case FaultAction::Garbage:
    case FaultAction::Vanish:
    case FaultAction::Hold:
      return ValueKind::Count;
    case FaultAction::Pause:
    case FaultAction::Late:
      return ValueKind::Millis;
    default:
      return ValueKind::None;
  }
}

// What a fault given without a value does: the cases the PC side most wants to see.
void setDefaultValue(Fault& fault) {
  switch (fault.action) {
    case FaultAction::Illegal:
      fault.byte = 0x41;
      break;
    case FaultAction::Corrupt:
      fault.byte = 0x01;
      break;
    case FaultAction::Short:
      fault.count = fault.step == FaultStep::Data ? 200 : fault.step == FaultStep::WakeUp ? 4 : 0;
      break;
    case FaultAction::Pause:
      fault.delay = std::chrono::milliseconds(80);
      break;
    case FaultAction::Late:
      fault.delay = std::chrono::milliseconds(150);
      break;
    case FaultAction::Garbage:
      fault.count = 3;
      break;
    default:
      break;
  }
}

bool setValue(Fault& fault, std::string_view text) {
  const auto number = parseNumber(text);
  if (!number) return false;
  switch (valueKind(fault.action)) {
    case ValueKind::Byte:
      if (*number > 0xFF) return false;
      fault.byte = static_cast<std::uint8_t>(*number);
      return true;
    case ValueKind::Count:
      if (*number > 1024) return false;
      fault.count = *number;
      return true;
    case ValueKind::Millis:
      if (*number > 600000) return false;
      fault.delay = std::chrono::milliseconds(*number);
      return true;
    case ValueKind::None:
      return false;
  }
  return false;
}

}  // namespace

std::optional<Fault> parseFault(std::string_view text) {
  Fault fault;
  if (auto flag = cutAt(text, '/')) {
    if (*flag != "once") return std::nullopt;
    fault.once = true;
  }
  const auto value = cutAt(text, '=');
  const auto where = cutAt(text, '@');
  if (!where) return std::nullopt;
  const auto action = lookUp(actionNames, text);
  std::string_view stepText = *where;
  const auto blockText = cutAt(stepText, ':');
  const auto step = lookUp(stepNames, stepText);
  if (!action || !step) return std::nullopt;
  fault.action = *action;
  fault.step = *step;
  if (blockText) {
    const auto block = parseNumber(*blockText);
    if (!block || *block > 4095 || fault.step == FaultStep::WakeUp) return std::nullopt;
    fault.block = static_cast<std::uint16_t>(*block);
  }
  setDefaultValue(fault);
  if (value && !setValue(fault, *value)) return std::nullopt;
  return fault;
}

std::string describeFault(const Fault& fault) {
  std::string text{nameOf(actionNames, fault.action)};
  text += '@';
  text += nameOf(stepNames, fault.step);
  if (fault.block && fault.step != FaultStep::WakeUp) text += ':' + std::to_string(*fault.block);
  switch (valueKind(fault.action)) {
    case ValueKind::Byte:
      text += '=' + std::to_string(fault.byte);
      break;
    case ValueKind::Count:
      text += '=' + std::to_string(fault.count);
      break;
    case ValueKind::Millis:
      text += '=' + std::to_string(fault.delay.count());
      break;
    case ValueKind::None:
      break;
  }
  if (fault.once) text += "/once";
  return text;
}

bool keepsAcceptance(const Fault& fault, std::size_t answerLength) {
  switch (fault.action) {
    case FaultAction::Pause:
    case FaultAction::Late:
    case FaultAction::Twice:
    case FaultAction::Garbage:
    case FaultAction::Hold:
      return true;
    case FaultAction::Short:
      return fault.count >= answerLength;
    default:
      return false;
  }
}

void FaultSet::replace(std::vector<Fault> faults) {
  std::lock_guard lock(mutex_);
  faults_ = std::move(faults);
  spent_.assign(faults_.size(), false);
}

std::optional<Fault> FaultSet::take(FaultStep step, std::uint16_t block) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const Fault& fault = faults_[i];
    if (spent_[i] || fault.step != step) continue;
    if (step != FaultStep::WakeUp && fault.block && *fault.block != block) continue;
    if (fault.once) spent_[i] = true;
    return fault;
  }
  return std::nullopt;
}

}  // namespace morva::sim
