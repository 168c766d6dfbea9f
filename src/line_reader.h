#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform.h"

namespace velmora {

// Checks UTF-8 a chunk at a time, so a character may span two reads.
class Utf8Validator {
 public:
  // False once any byte so far is not well-formed UTF-8 (overlongs, surrogates and code
  // points above U+10FFFF included); it stays false.
  bool feed(const char* data, std::size_t size) noexcept;
  // True when no character is left unfinished.
  bool at_boundary() const noexcept { return pending_ == 0 && valid_; }

 private:
  bool valid_ = true;
  std::uint8_t pending_ = 0;  // continuation bytes still owed
  std::uint8_t low_ = 0x80;   // allowed range of the next continuation byte
  std::uint8_t high_ = 0xBF;
};

enum class LineStatus {
  Line,     // a complete line, line ending removed
  TooLong,  // a line over the size bound, read through to its end and not kept
  End,      // no byte at all was left
  Failed,   // a read error, or bytes that are not UTF-8
};

inline constexpr std::size_t max_line_bytes = std::size_t{1} << 20;

using ByteSource = std::function<ReadResult(char* buffer, std::size_t capacity)>;

// Splits a byte stream into lines at line feeds, dropping one carriage return before the
// line feed. Memory stays bounded by `max_line` whatever the stream holds.
class LineReader {
 public:
  explicit LineReader(ByteSource source, std::size_t max_line = max_line_bytes,
                      std::size_t chunk = std::size_t{64} * 1024);

  LineStatus next(std::string& line);

 private:
  LineStatus finish(std::string& line, bool too_long) const;

  ByteSource source_;
  std::size_t max_line_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool ended_ = false;
  Utf8Validator utf8_;
};

}  // namespace velmora
