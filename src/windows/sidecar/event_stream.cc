#include "event_stream.h"

#include <mutex>
#include <nlohmann/json.hpp>

#include "platform.h"

namespace velmora {
namespace {

// Re-entrant so that a writer already holding it may take it again.
std::recursive_mutex& stdout_lock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace

std::string event_line(std::string_view event_name) {
  nlohmann::json object = nlohmann::json::object();
  object["event"] = event_name;
  return object.dump();
}

std::string key_event_line(KeyEvent event) {
  // nlohmann's object is a std::map: members come out in key order ("down", "event",
  // "vk") whatever the insertion order.
  nlohmann::json object = nlohmann::json::object();
  object["event"] = "key";
  object["vk"] = event.vk;
  object["down"] = event.down;
  return object.dump();
}

void emit_line(std::string text) {
  // The line feed goes out in the same write as the text, so no reader ever sees half a
  // line. Pipe writes are unbuffered, so a completed write is already flushed.
  text.push_back('\n');
  const std::lock_guard<std::recursive_mutex> hold(stdout_lock());
  (void)platform_write_stdout(text.data(), text.size());
}

void key_event_pump(KeyReceiver receiver) {
  const std::string session_lock = event_line("session-lock") + '\n';
  while (const std::optional<ChannelItem> item = receiver.receive()) {
    std::string line = item->kind == Received::Key ? key_event_line(item->key) + '\n' : session_lock;
    const std::lock_guard<std::recursive_mutex> hold(stdout_lock());
    (void)platform_write_stdout(line.data(), line.size());
    // Locks counted while that write was blocked on a full pipe go out before the lock is
    // released, so a `bye` already waiting for it cannot overtake them.
    while (receiver.take_session_lock())
      (void)platform_write_stdout(session_lock.data(), session_lock.size());
  }
}

}  // namespace velmora
