#pragma once

#include <string_view>

namespace velmora {

// Deepest nesting of arrays and objects a command line may hold, the command object
// itself included.
inline constexpr int max_command_depth = 127;

// True when the line is exactly one JSON object, optionally surrounded by JSON
// whitespace, whose last "cmd" member is the string "stop". Anything else (invalid JSON,
// trailing text, deeper nesting, a NUL byte, a byte-order mark) is not a stop.
bool is_stop_command(std::string_view line);

}  // namespace velmora
