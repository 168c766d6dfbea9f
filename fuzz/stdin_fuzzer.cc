// libFuzzer target over the whole standard-input path: bytes served in reads of varying
// size, split into lines by LineReader, UTF-8 checked, parsed by is_stop_command, the loop
// ending exactly as run_command_loop ends. Each step is checked against a plain reference
// model, and the line buffer must stay within its bound whatever the input.
//
// Input layout: byte 0 picks the reader's buffer size, the size of each read and the line
// bound; byte 1 picks whether the stream ends in a read error; the rest is standard input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "line_reader.h"
#include "fuzz_check.h"
#include "stop_command.h"

namespace velmora {
namespace {

constexpr std::size_t reader_chunks[] = {1, 3, 16, 64 * 1024};
constexpr std::size_t read_steps[] = {1, 2, 3, 5, 8, 13, 4096, SIZE_MAX};
constexpr std::size_t line_bounds[] = {max_line_bytes, 4096, 64, 1};

// Serves the input the way a pipe does: at most `step` bytes per read, then End or Error.
struct FuzzSource {
  std::string_view data;
  std::size_t step;
  bool fail_at_end;

  ReadResult operator()(char* buffer, std::size_t capacity) {
    if (data.empty()) return {fail_at_end ? ReadStatus::Error : ReadStatus::End, 0};
    std::size_t size = capacity < step ? capacity : step;
    if (size > data.size()) size = data.size();
    std::memcpy(buffer, data.data(), size);
    data.remove_prefix(size);
    return {ReadStatus::Data, size};
  }
};

// Independent UTF-8 check by decoding code points, for one whole line.
bool reference_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, code = lead & 0x07;
    } else {
      return false;
    }
    if (extra >= text.size() - i) return false;  // sequence cut short
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto byte = static_cast<unsigned char>(text[i + k]);
      if ((byte & 0xC0) != 0x80) return false;
      code = (code << 6) | (byte & 0x3F);
    }
    constexpr std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

// Deepest nesting of arrays and objects in text already known to be valid JSON.
int nesting_depth(std::string_view text) {
  int depth = 0;
  int deepest = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = ++depth > deepest ? depth : deepest;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

// What a stop command is, written the obvious way with the DOM parser.
bool reference_is_stop(std::string_view line) {
  if (line.find('\0') != std::string_view::npos) return false;
  if (line.substr(0, 3) == "\xEF\xBB\xBF") return false;
  const nlohmann::json doc = nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  if (nesting_depth(line) > 127) return false;  // the command object counts as one level
  const auto cmd = doc.find("cmd");
  return cmd != doc.end() && cmd->is_string() && cmd->get_ref<const std::string&>() == "stop";
}

// The next expected step of the loop, from the unread rest of the input.
LineStatus reference_next(std::string_view& rest, bool fail_at_end, std::size_t max_line,
                          std::string& expected) {
  expected.clear();
  if (rest.empty()) return fail_at_end ? LineStatus::Failed : LineStatus::End;
  const std::size_t feed = rest.find('\n');
  std::string_view line = rest.substr(0, feed);
  if (!reference_utf8(line)) return LineStatus::Failed;
  if (feed == std::string_view::npos) {
    // A last line without a line feed is only complete once the stream says so.
    if (fail_at_end) return LineStatus::Failed;
    rest = {};
  } else {
    rest.remove_prefix(feed + 1);
  }
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > max_line) return LineStatus::TooLong;
  expected.assign(line);
  return LineStatus::Line;
}

}  // namespace
}  // namespace velmora

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velmora;
  if (size < 2) return 0;
  const std::uint8_t shape = data[0];
  const bool fail_at_end = (data[1] & 1) != 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t chunk = reader_chunks[shape & 3];
  const std::size_t step = read_steps[(shape >> 2) & 7];
  const std::size_t max_line = line_bounds[(shape >> 5) & 3];

  LineReader reader(FuzzSource{input, step, fail_at_end}, max_line, chunk);
  std::string_view rest = input;
  std::string line;
  std::string expected;
  // One more byte than the bound may be held while a carriage return is pending, and the
  // string may round its capacity up once: anything beyond that is growth the bound forbids.
  const std::size_t capacity_bound = 2 * (max_line + 1) + 32;
  for (;;) {
    const LineStatus status = reader.next(line);
    const LineStatus want = reference_next(rest, fail_at_end, max_line, expected);
    FUZZ_CHECK(status == want);
    FUZZ_CHECK(line.capacity() <= capacity_bound);
    if (status == LineStatus::End || status == LineStatus::Failed) break;
    if (status == LineStatus::TooLong) {
      FUZZ_CHECK(line.empty());
      continue;
    }
    FUZZ_CHECK(line.size() <= max_line);
    FUZZ_CHECK(line.find('\n') == std::string::npos);
    FUZZ_CHECK(line == expected);
    const bool stop = is_stop_command(line);
    FUZZ_CHECK(stop == reference_is_stop(line));
    if (stop) break;  // the rest of standard input is never read
  }
  return 0;
}
