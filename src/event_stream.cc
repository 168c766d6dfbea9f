#include "event_stream.h"

#include <algorithm>
#include <charconv>
#include <mutex>

#include "platform.h"

namespace velmora {
namespace {

// Re-entrant so that a writer already holding it may take it again.
std::recursive_mutex& stdout_lock() {
  static std::recursive_mutex lock;
  return lock;
}

constexpr std::string_view session_lock_line = "{\"event\":\"session-lock\"}\n";

// The longest key line, {"down":false,"event":"key","vk":4294967295}, and its line feed.
constexpr std::size_t key_line_capacity = 46;

struct KeyLine {
  char text[key_line_capacity];
  std::size_t size = 0;
};

// The lines have one fixed shape each, so they are written straight into a buffer on the
// stack: members already in key order, nothing to escape, no allocation per line.
KeyLine compose_key_line(KeyEvent event) {
  constexpr std::string_view down_prefix = "{\"down\":true,\"event\":\"key\",\"vk\":";
  constexpr std::string_view up_prefix = "{\"down\":false,\"event\":\"key\",\"vk\":";
  const std::string_view prefix = event.down ? down_prefix : up_prefix;
  KeyLine line;
  char* end = line.text + key_line_capacity;
  char* next = std::copy(prefix.begin(), prefix.end(), line.text);
  next = std::to_chars(next, end, event.vk).ptr;
  *next++ = '}';
  *next++ = '\n';
  line.size = static_cast<std::size_t>(next - line.text);
  return line;
}

void write_locked(std::string_view text) { (void)platform_write_stdout(text.data(), text.size()); }

}  // namespace

std::string event_line(std::string_view event_name) {
  // Event names are lower-case letters and hyphens: nothing in them needs an escape.
  std::string line = "{\"event\":\"";
  line += event_name;
  line += "\"}";
  return line;
}

std::string key_event_line(KeyEvent event) {
  const KeyLine line = compose_key_line(event);
  return std::string(line.text, line.size - 1);
}

void emit_line(std::string text) {
  // The line feed goes out in the same write as the text, so no reader ever sees half a
  // line. Pipe writes are unbuffered, so a completed write is already flushed.
  text.push_back('\n');
  const std::lock_guard<std::recursive_mutex> hold(stdout_lock());
  write_locked(text);
}

void key_event_pump(KeyReceiver receiver) {
  while (const std::optional<ChannelItem> item = receiver.receive()) {
    const KeyLine key = item->kind == Received::Key ? compose_key_line(item->key) : KeyLine{};
    const std::lock_guard<std::recursive_mutex> hold(stdout_lock());
    write_locked(item->kind == Received::Key ? std::string_view(key.text, key.size) : session_lock_line);
    // Locks counted while that write was blocked on a full pipe go out before the lock is
    // released, so a `bye` already waiting for it cannot overtake them.
    while (receiver.take_session_lock()) write_locked(session_lock_line);
  }
}

}  // namespace velmora
