#include "record/session_log.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

namespace morva {
namespace {

// Appends `text` as a JSON string: quotes, backslashes and control characters escaped, UTF-8
// kept, and any byte that is no part of a UTF-8 sequence written as U+FFFD.
void appendString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
      bool valid = length != 0 && c < 0xF5 && i + length <= text.size();
      for (std::size_t k = 1; valid && k < length; ++k)
        valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      if (valid) {
        out.append(text.substr(i, length));
        i += length;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
    }
  }
  out += '"';
}

// A reader of the small part of JSON the log uses; unknown values are skipped whole.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool object(const std::function<bool(const std::string&)>& onKey) {
    if (!take('{')) return false;
    if (take('}')) return true;
    do {
      std::string key;
      if (!string(key) || !take(':') || !onKey(key)) return false;
    } while (take(','));
    return take('}') && atEnd();
  }

  bool string(std::string& into) {
    if (!take('"')) return false;
    into.clear();
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\\') {
        if (at_ >= text_.size()) return false;
        c = text_[at_++];
        if (c == 'u') {
          if (!codePoint(into)) return false;
          continue;
        }
        const std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
        const auto k = from.find(c);
        if (k == std::string_view::npos) return false;
        c = to[k];
      }
      into += c;
    }
    return take('"');
  }

  bool number(std::uint64_t& into) {
    blanks();
    const std::size_t first = at_;
    into = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      if (into > (UINT64_MAX - 9) / 10) return false;
      into = into * 10 + static_cast<unsigned>(text_[at_++] - '0');
    }
    return at_ > first;
  }

  bool strings(std::vector<std::string>& into) {
    if (!take('[')) return false;
    into.clear();
    if (take(']')) return true;
    do {
      std::string item;
      if (!string(item)) return false;
      into.push_back(item);
    } while (take(','));
    return take(']');
  }

  // Any value: a string, a number, an array, an object, true, false or null.
  bool skip() {
    blanks();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    std::string ignored;
    if (c == '"') return string(ignored);
    if (c == '[' || c == '{') {
      const char close = c == '[' ? ']' : '}';
      ++at_;
      if (take(close)) return true;
      do {
        if (c == '{' && (!string(ignored) || !take(':'))) return false;
        if (!skip()) return false;
      } while (take(','));
      return take(close);
    }
    const std::size_t first = at_;
    while (at_ < text_.size() &&
           std::string_view("-+.eE0123456789truefalsn").find(text_[at_]) != std::string_view::npos)
      ++at_;
    return at_ > first;
  }

 private:
  void blanks() {
    while (at_ < text_.size() &&
           std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos)
      ++at_;
  }
  bool take(char c) {
    blanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool atEnd() {
    blanks();
    return at_ == text_.size();
  }
  // \uXXXX, a surrogate pair included, as UTF-8.
  bool codePoint(std::string& into) {
    auto hex4 = [&](unsigned& value) {
      if (at_ + 4 > text_.size()) return false;
      value = 0;
      for (int k = 0; k < 4; ++k) {
        const char h = text_[at_++];
        const int digit = h >= '0' && h <= '9'   ? h - '0'
                          : h >= 'a' && h <= 'f' ? h - 'a' + 10
                          : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                 : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
      }
      return true;
    };
    unsigned cp = 0;
    if (!hex4(cp)) return false;
    if (cp >= 0xD800 && cp < 0xDC00) {
      unsigned low = 0;
      if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    if (cp < 0x80) {
      into += static_cast<char>(cp);
    } else if (cp < 0x800) {
      into += static_cast<char>(0xC0 | (cp >> 6));
      into += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      into += static_cast<char>(0xE0 | (cp >> 12));
      into += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      into += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      into += static_cast<char>(0xF0 | (cp >> 18));
      into += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      into += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      into += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

}  // namespace

std::string isoTime(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(when).time_since_epoch().count();
  long long days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The civil date of a day count since 1970-01-01 (the proleptic Gregorian calendar).
  const long long z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];  // room for any year a time_point holds
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day,
                rest / 3600, rest / 60 % 60, rest % 60);
  return text;
}

std::string toJsonLine(const SessionRecord& r) {
  std::string out = "{";
  auto field = [&](const char* key) {
    if (out.size() > 1) out += ',';
    appendString(out, key);
    out += ':';
  };
  auto text = [&](const char* key, const std::string& value) {
    field(key);
    appendString(out, value);
  };
  auto number = [&](const char* key, std::uint64_t value) {
    field(key);
    out += std::to_string(value);
  };
  text("start", r.start);
  text("end", r.end);
  text("program", r.program);
  text("port", r.port);
  field("versions");
  out += '[';
  appendString(out, r.versions[0]);
  out += ',';
  appendString(out, r.versions[1]);
  out += ']';
  text("kind", r.kind);
  text("direction", r.direction);
  text("file", r.file);
  number("bytes", r.bytes);
  text("sha256", r.sha256);
  number("blocks", r.blocks);
  number("blocks_done", r.blocksDone);
  text("outcome", r.outcome);
  text("message", r.message);
  return out + "}";
}

std::optional<SessionRecord> parseJsonLine(std::string_view line, std::string& why) {
  SessionRecord r;
  const std::map<std::string, std::string*> texts{
      {"start", &r.start},    {"end", &r.end},       {"program", &r.program},
      {"port", &r.port},      {"kind", &r.kind},     {"direction", &r.direction},
      {"file", &r.file},      {"sha256", &r.sha256}, {"outcome", &r.outcome},
      {"message", &r.message}};
  std::uint64_t blocks = 0, done = 0;
  const std::map<std::string, std::uint64_t*> numbers{
      {"bytes", &r.bytes}, {"blocks", &blocks}, {"blocks_done", &done}};
  std::vector<std::string> seen;
  Reader reader(line);
  const bool read = reader.object([&](const std::string& key) {
    seen.push_back(key);
    if (const auto t = texts.find(key); t != texts.end()) return reader.string(*t->second);
    if (const auto n = numbers.find(key); n != numbers.end()) return reader.number(*n->second);
    if (key == "versions") {
      std::vector<std::string> versions;
      if (!reader.strings(versions) || versions.size() != 2) return false;
      r.versions = {versions[0], versions[1]};
      return true;
    }
    return reader.skip();
  });
  if (!read) {
    why = "not a JSON object of the log";
    return std::nullopt;
  }
  for (const char* key : {"start", "end", "port", "kind", "direction", "file", "outcome"}) {
    if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
      why = std::string("no \"") + key + "\"";
      return std::nullopt;
    }
  }
  r.blocks = static_cast<unsigned>(std::min<std::uint64_t>(blocks, UINT32_MAX));
  r.blocksDone = static_cast<unsigned>(std::min<std::uint64_t>(done, UINT32_MAX));
  return r;
}

std::string recordTable(const std::vector<SessionRecord>& records) {
  const std::vector<std::string> heads{"end",     "port",   "versions", "session",
                                       "outcome", "blocks", "sha256",   "file"};
  std::vector<std::vector<std::string>> rows{heads};
  for (const SessionRecord& r : records)
    rows.push_back({r.end, r.port, r.versions[0] + " " + r.versions[1], r.direction + " " + r.kind,
                    r.outcome, std::to_string(r.blocksDone) + "/" + std::to_string(r.blocks),
                    r.sha256.substr(0, 12), r.file});
  return alignedColumns(rows);
}

std::string alignedColumns(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? padded(row[c], widths[c] + 2) : row[c];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

}  // namespace morva
