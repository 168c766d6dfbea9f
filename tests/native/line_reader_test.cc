#include "line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace velmora {
namespace {

using namespace std::string_literals;

constexpr std::size_t mib = max_line_bytes;

// Hands out `input` in pieces of at most `piece` bytes, then end of input or a read error.
struct PieceSource {
  std::string input;
  std::size_t piece;
  bool fail_at_end = false;
  std::size_t pos = 0;

  ReadResult operator()(char* buffer, std::size_t capacity) {
    if (pos == input.size()) return {fail_at_end ? ReadStatus::Error : ReadStatus::End, 0};
    const std::size_t size = std::min({piece, capacity, input.size() - pos});
    input.copy(buffer, size, pos);
    pos += size;
    return {ReadStatus::Data, size};
  }
};

// Every result up to and including End or Failed; a line is "L:<text>", an ignored
// over-long line "TooLong".
std::vector<std::string> read_all(std::string input, std::size_t piece, bool fail_at_end = false) {
  LineReader reader(PieceSource{std::move(input), piece, fail_at_end});
  std::vector<std::string> results;
  std::string line;
  for (;;) {
    switch (reader.next(line)) {
      case LineStatus::Line:
        results.push_back("L:" + line);
        continue;
      case LineStatus::TooLong:
        results.emplace_back("TooLong");
        continue;
      case LineStatus::End:
        results.emplace_back("End");
        return results;
      case LineStatus::Failed:
        results.emplace_back("Failed");
        return results;
    }
  }
}

struct ReaderCase {
  const char* name;
  std::string input;
  bool fail_at_end;
  std::vector<std::string> expected;
};

// Every case runs with pieces of 1 and 3 bytes and of the reader's whole buffer, so lines
// and characters are split at every possible place.
class LineReaderTest : public testing::TestWithParam<std::tuple<ReaderCase, std::size_t>> {};

TEST_P(LineReaderTest, SplitsChecksAndBoundsLines) {
  const auto& [c, piece] = GetParam();
  EXPECT_EQ(read_all(c.input, piece, c.fail_at_end), c.expected);
}

const std::string long_mib(mib, 'a');
const std::string over_mib(mib + 1, 'a');

INSTANTIATE_TEST_SUITE_P(
    Inputs, LineReaderTest,
    testing::Combine(
        testing::Values(
            ReaderCase{"empty", "", false, {"End"}},
            ReaderCase{"lines", "a\nbc\n", false, {"L:a", "L:bc", "End"}},
            ReaderCase{"crlf", "a\r\nb\r\n", false, {"L:a", "L:b", "End"}},
            ReaderCase{"only_one_cr_removed", "a\r\r\n", false, {"L:a\r", "End"}},
            ReaderCase{"inner_cr_kept", "a\rb\n", false, {"L:a\rb", "End"}},
            ReaderCase{"empty_lines", "\n\r\n", false, {"L:", "L:", "End"}},
            ReaderCase{"final_line_without_lf", "a\nlast", false, {"L:a", "L:last", "End"}},
            ReaderCase{"multibyte",
                       "\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E\n",
                       false,
                       {"L:\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E", "End"}},
            ReaderCase{"largest_code_point", "\xF4\x8F\xBF\xBF\n", false, {"L:\xF4\x8F\xBF\xBF", "End"}},
            ReaderCase{"overlong_two_byte", "\xC0\xAF\n", false, {"Failed"}},
            ReaderCase{"overlong_three_byte", "\xE0\x80\xAF\n", false, {"Failed"}},
            ReaderCase{"surrogate", "\xED\xA0\x80\n", false, {"Failed"}},
            ReaderCase{"above_10ffff", "\xF4\x90\x80\x80\n", false, {"Failed"}},
            ReaderCase{"lone_continuation", "\x80\n", false, {"Failed"}},
            ReaderCase{"invalid_byte", "ok\n\xFF\n{\"cmd\":\"stop\"}\n", false, {"L:ok", "Failed"}},
            ReaderCase{"truncated_before_lf", "\xE2\x82\nx\n", false, {"Failed"}},
            ReaderCase{"truncated_at_eof", "ok\n\xE2\x82", false, {"L:ok", "Failed"}},
            ReaderCase{"read_error_after_line", "a\n", true, {"L:a", "Failed"}},
            ReaderCase{"read_error_mid_line", "a\nb", true, {"L:a", "Failed"}},
            ReaderCase{"exactly_1_mib", long_mib + "\nb\n", false, {"L:" + long_mib, "L:b", "End"}},
            ReaderCase{"exactly_1_mib_crlf", long_mib + "\r\n", false, {"L:" + long_mib, "End"}},
            ReaderCase{"one_byte_over", over_mib + "\nb\n", false, {"TooLong", "L:b", "End"}},
            ReaderCase{"one_byte_over_crlf", over_mib + "\r\nb\n", false, {"TooLong", "L:b", "End"}},
            ReaderCase{"over_long_without_lf", "a\n" + over_mib, false, {"L:a", "TooLong", "End"}},
            ReaderCase{"over_long_then_stop",
                       over_mib + "\n{\"cmd\":\"stop\"}\n",
                       false,
                       {"TooLong", "L:{\"cmd\":\"stop\"}", "End"}},
            ReaderCase{"over_long_invalid_late", over_mib + "\xFF\nb\n", false, {"Failed"}},
            ReaderCase{"over_long_split_character", over_mib + "\xE2\x82\xAC\n", false, {"TooLong", "End"}}),
        testing::Values(std::size_t{1}, std::size_t{3}, std::size_t{64 * 1024})),
    [](const testing::TestParamInfo<std::tuple<ReaderCase, std::size_t>>& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::to_string(std::get<1>(info.param));
    });

TEST(LineReaderMemory, OverLongLineIsNeverHeld) {
  constexpr std::size_t total = 8 * mib;
  std::string line;
  std::size_t served = 0;
  std::size_t largest = 0;
  // Watches the caller's line between reads while streaming 8 MiB without a line feed.
  LineReader reader([&](char* buffer, std::size_t capacity) -> ReadResult {
    largest = std::max(largest, line.capacity());
    if (served == total) return {ReadStatus::End, 0};
    const std::size_t size = std::min(capacity, total - served);
    std::fill_n(buffer, size, 'x');
    served += size;
    return {ReadStatus::Data, size};
  });
  EXPECT_EQ(reader.next(line), LineStatus::TooLong);
  largest = std::max(largest, line.capacity());
  EXPECT_EQ(served, total);
  EXPECT_LE(largest, 3 * mib);
  EXPECT_EQ(reader.next(line), LineStatus::End);
}

}  // namespace
}  // namespace velmora
