#include "stop_command.h"

#include <cstring>
#include <nlohmann/json.hpp>

namespace velmora {
namespace {

// SAX handler: counts depth without recursion and remembers only what the last "cmd"
// member of the top-level object held.
struct StopCommandHandler {
  using json = nlohmann::json;

  int depth = 0;
  bool root_is_object = false;
  bool key_is_cmd = false;
  bool cmd_is_stop = false;

  // A value at depth 1 that follows a key belongs to the top-level object.
  void top_level_value(bool is_stop) {
    if (depth == 1 && root_is_object && key_is_cmd) cmd_is_stop = is_stop;
  }

  bool enter(bool is_object) {
    top_level_value(false);
    if (depth == 0) root_is_object = is_object;
    return ++depth <= max_command_depth;
  }

  bool null() { return top_level_value(false), true; }
  bool boolean(bool /*value*/) { return top_level_value(false), true; }
  bool number_integer(json::number_integer_t /*value*/) { return top_level_value(false), true; }
  bool number_unsigned(json::number_unsigned_t /*value*/) { return top_level_value(false), true; }
  bool number_float(json::number_float_t /*value*/, const json::string_t& /*text*/) {
    return top_level_value(false), true;
  }
  bool string(json::string_t& value) { return top_level_value(value == "stop"), true; }
  bool binary(json::binary_t& /*value*/) { return top_level_value(false), true; }
  bool start_object(std::size_t /*size*/) { return enter(true); }
  bool end_object() { return --depth, true; }
  bool start_array(std::size_t /*size*/) { return enter(false); }
  bool end_array() { return --depth, true; }
  bool key(json::string_t& name) {
    if (depth == 1) key_is_cmd = name == "cmd";
    return true;
  }
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                   const nlohmann::detail::exception& /*error*/) {
    return false;
  }
};

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

}  // namespace

bool is_stop_command(std::string_view line) {
  // The parser reads a NUL as the end of input and silently skips a leading byte-order
  // mark; neither is JSON, so both are refused here.
  if (line.find('\0') != std::string_view::npos) return false;
  if (line.substr(0, utf8_bom.size()) == utf8_bom) return false;
  StopCommandHandler handler;
  try {
    const bool parsed = nlohmann::json::sax_parse(line.begin(), line.end(), &handler,
                                                  nlohmann::json::input_format_t::json, true);
    return parsed && handler.root_is_object && handler.cmd_is_stop;
  } catch (const nlohmann::json::exception&) {
    // The handler reports errors itself; this only keeps an unexpected parser throw from
    // ending the session.
    return false;
  }
}

}  // namespace velmora
