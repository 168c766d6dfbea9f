#include "line_reader.h"

#include <cstring>

namespace velmora {

bool Utf8Validator::feed(const char* data, std::size_t size) noexcept {
  for (std::size_t i = 0; i < size && valid_; ++i) {
    const auto byte = static_cast<std::uint8_t>(data[i]);
    if (pending_ > 0) {
      if (byte < low_ || byte > high_) {
        valid_ = false;
        break;
      }
      --pending_;
      low_ = 0x80;
      high_ = 0xBF;
      continue;
    }
    if (byte < 0x80) continue;
    // The first continuation byte's range rules out overlong forms, UTF-16 surrogates
    // and code points above U+10FFFF.
    if (byte >= 0xC2 && byte <= 0xDF) {
      pending_ = 1;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      pending_ = 2;
      if (byte == 0xE0) low_ = 0xA0;
      if (byte == 0xED) high_ = 0x9F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      pending_ = 3;
      if (byte == 0xF0) low_ = 0x90;
      if (byte == 0xF4) high_ = 0x8F;
    } else {
      valid_ = false;
    }
  }
  return valid_;
}

LineReader::LineReader(ByteSource source, std::size_t max_line, std::size_t chunk)
    : source_(std::move(source)), max_line_(max_line), buffer_(chunk == 0 ? 1 : chunk) {}

LineStatus LineReader::finish(std::string& line, bool too_long) const {
  if (!utf8_.at_boundary()) return LineStatus::Failed;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (too_long || line.size() > max_line_) {
    line.clear();
    return LineStatus::TooLong;
  }
  return LineStatus::Line;
}

LineStatus LineReader::next(std::string& line) {
  line.clear();
  bool any_byte = false;
  bool too_long = false;
  for (;;) {
    if (pos_ == len_) {
      if (ended_) return any_byte ? finish(line, too_long) : LineStatus::End;
      const ReadResult read = source_(buffer_.data(), buffer_.size());
      if (read.status == ReadStatus::Error) return LineStatus::Failed;
      if (read.status == ReadStatus::End || read.size == 0) {
        ended_ = true;
        continue;
      }
      pos_ = 0;
      len_ = read.size < buffer_.size() ? read.size : buffer_.size();
    }
    any_byte = true;
    const char* start = buffer_.data() + pos_;
    const std::size_t available = len_ - pos_;
    const auto* feed = static_cast<const char*>(std::memchr(start, '\n', available));
    const std::size_t segment = feed != nullptr ? static_cast<std::size_t>(feed - start) : available;
    if (!utf8_.feed(start, segment)) return LineStatus::Failed;
    // One byte of slack keeps a carriage return that may stand before the line feed.
    if (!too_long && line.size() + segment > max_line_ + 1) {
      too_long = true;
      std::string().swap(line);
    }
    if (!too_long) line.append(start, segment);
    pos_ += segment;
    if (feed != nullptr) {
      ++pos_;
      return finish(line, too_long);
    }
  }
}

}  // namespace velmora
