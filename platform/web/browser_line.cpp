#include "platform/web/browser_line.h"

#include <emscripten.h>

#include <vector>

#include "platform/web/browser.h"

// clang-format off
EM_ASYNC_JS(char*, morva_serial_open, (const char* name), {
  return morvaHost.text(await morvaHost.serial.open(UTF8ToString(name)));
});
EM_ASYNC_JS(void, morva_serial_close, (), {
  await morvaHost.serial.close();
});
EM_JS(void, morva_serial_write, (const unsigned char* bytes, int count), {
  morvaHost.serial.write(HEAPU8.slice(bytes, bytes + count));
});
EM_JS(int, morva_serial_writing, (), {
  return morvaHost.serial.writing() ? 1 : 0;
});
EM_JS(int, morva_serial_chunk_size, (), {
  return morvaHost.serial.chunkSize();
});
EM_JS(double, morva_serial_take_chunk, (unsigned char* into), {
  const chunk = morvaHost.serial.takeChunk();
  HEAPU8.set(chunk.bytes, into);
  return chunk.at;
});
EM_JS(void, morva_serial_discard, (), {
  morvaHost.serial.discard();
});
EM_JS(char*, morva_serial_failure, (), {
  return morvaHost.text(morvaHost.serial.failure());
});
EM_ASYNC_JS(void, morva_serial_wait, (double until), {
  await morvaHost.news.wait(until);
});
// clang-format on

namespace morva {

std::optional<OsError> BrowserLine::open() {
  const std::string refusal = browser::adopt(morva_serial_open(name_.c_str()));
  if (!refusal.empty()) return browser::errorFrom(refusal);
  open_ = true;
  return std::nullopt;
}

void BrowserLine::close() {
  if (!open_) return;
  open_ = false;
  morva_serial_close();
}

void BrowserLine::write(std::span<const std::uint8_t> bytes) {
  morva_serial_write(bytes.data(), static_cast<int>(bytes.size()));
}

bool BrowserLine::writing() const {
  return morva_serial_writing() != 0;
}

void BrowserLine::take(std::deque<Arrival>& into) {
  for (int size = morva_serial_chunk_size(); size > 0; size = morva_serial_chunk_size()) {
    Arrival arrival;
    arrival.bytes.resize(static_cast<std::size_t>(size));
    arrival.at = browser::fromMilliseconds(morva_serial_take_chunk(arrival.bytes.data()));
    into.push_back(std::move(arrival));
  }
}

void BrowserLine::discard() {
  morva_serial_discard();
}

std::optional<OsError> BrowserLine::failure() const {
  const std::string gone = browser::adopt(morva_serial_failure());
  if (gone.empty()) return std::nullopt;
  return browser::errorFrom(gone);
}

void BrowserLine::waitForNews(Clock::time_point until) {
  morva_serial_wait(browser::toMilliseconds(until));
}

}  // namespace morva
