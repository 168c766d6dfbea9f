#include "event_stream.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <mutex>

#include "address_wait.h"
#include "platform.h"

namespace velmora {
namespace {

// 0 until open_event_output; the pump sleeps on it.
std::atomic<std::uint32_t> output_open{0};

std::timed_mutex& stdout_lock() {
  static std::timed_mutex lock;
  return lock;
}

// How long an exit without a last line waits for a write already under way.
constexpr auto exit_wait_bound = std::chrono::seconds(1);

// Each counted event's line, by its value.
constexpr std::array<std::string_view, counted_event_kinds> counted_lines = {
    "{\"event\":\"session-lock\"}\n",
};

std::string_view counted_line(CountedEvent event) { return counted_lines[static_cast<std::size_t>(event)]; }

// The longest key line, {"down":false,"event":"key","vk":4294967295}, and its line feed.
constexpr std::size_t key_line_capacity = 46;

// Keys already queued when the pump wakes go out together, up to this many lines a write:
// fewer writes for a parent that fell behind, and no wait for keys that are not there yet.
constexpr std::size_t lines_per_write = 64;

// Whole lines, composed in place on the stack.
struct Lines {
  char text[lines_per_write * key_line_capacity];
  std::size_t size = 0;
  std::size_t count = 0;
};

// The lines have one fixed shape each, so they are written straight into the buffer:
// members already in key order, nothing to escape, no allocation per line.
void append_key_line(Lines& lines, KeyEvent event) {
  constexpr std::string_view down_prefix = "{\"down\":true,\"event\":\"key\",\"vk\":";
  constexpr std::string_view up_prefix = "{\"down\":false,\"event\":\"key\",\"vk\":";
  const std::string_view prefix = event.down ? down_prefix : up_prefix;
  char* next = std::copy(prefix.begin(), prefix.end(), lines.text + lines.size);
  next = std::to_chars(next, lines.text + sizeof(lines.text), event.vk).ptr;
  *next++ = '}';
  *next++ = '\n';
  lines.size = static_cast<std::size_t>(next - lines.text);
  ++lines.count;
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
  Lines line;
  append_key_line(line, event);
  return std::string(line.text, line.size - 1);
}

void emit_line(std::string text) {
  // The line feed goes out in the same write as the text, so no reader ever sees half a
  // line. Pipe writes are unbuffered, so a completed write is already flushed.
  text.push_back('\n');
  const std::lock_guard<std::timed_mutex> hold(stdout_lock());
  write_locked(text);
}

// The lock is still held when the process ends: a write that started after this one would
// be cut part-way by the exit. The line waits for a write under way, as any line does;
// nothing waits for the lock a second time.
void emit_last_line_and_exit(std::string text, int status) {
  text.push_back('\n');
  const std::unique_lock<std::timed_mutex> hold(stdout_lock());
  write_locked(text);
  platform_exit(status);
}

void exit_holding_stdout(int status) {
  // Bounded: a parent that stopped reading must not keep a failing run from ending.
  const std::unique_lock<std::timed_mutex> hold(stdout_lock(), exit_wait_bound);
  platform_exit(status);
}

void open_event_output() {
  output_open.store(1);
  address_wake_one(output_open);
}

void event_pump(EventReceiver receiver) {
  // Every key crosses this thread after the hook thread; both run above normal priority.
  platform_raise_thread_priority();
  while (output_open.load() == 0) address_wait(output_open, 0);
  while (const std::optional<ChannelItem> item = receiver.receive()) {
    Lines keys;
    if (item->kind == Received::Key) {
      append_key_line(keys, item->key);
      while (keys.count < lines_per_write) {
        const std::optional<KeyEvent> next = receiver.take_key();
        if (!next) break;
        append_key_line(keys, *next);
      }
    }
    const std::lock_guard<std::timed_mutex> hold(stdout_lock());
    write_locked(item->kind == Received::Key ? std::string_view(keys.text, keys.size)
                                             : counted_line(item->counted));
    // Events counted while that write was blocked on a full pipe go out before the lock is
    // released, so a `bye` already waiting for it cannot overtake them.
    while (const std::optional<CountedEvent> counted = receiver.take_counted())
      write_locked(counted_line(*counted));
  }
}

}  // namespace velmora
