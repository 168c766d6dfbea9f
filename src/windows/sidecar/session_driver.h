#pragma once

#include <optional>
#include <string>

namespace velmora {

// Diagnostic mode only for a value of exactly "1"; absent, empty or anything else is
// normal mode.
bool decide_diagnostic(const std::optional<std::u16string>& value);

// Reads standard input until a stop command, end of input or a read error. Returns why.
enum class LoopEnd { Stop, EndOfInput, ReadFailed };
LoopEnd run_command_loop();

// The whole run: start-up, command loop, shutdown. Returns the exit status.
int run_session();

}  // namespace velmora
