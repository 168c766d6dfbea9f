// Throughput of the standard-input path: command recognition per line, and line
// splitting with UTF-8 checking over a stream served from memory.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "line_reader.h"
#include "stop_command.h"

namespace velmora {
namespace {

void BM_is_stop_command(benchmark::State& state, std::string_view line) {
  for (auto _ : state) {
    bool stop = is_stop_command(line);
    benchmark::DoNotOptimize(stop);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}
BENCHMARK_CAPTURE(BM_is_stop_command, stop, std::string_view(R"({"cmd":"stop"})"));
BENCHMARK_CAPTURE(BM_is_stop_command, other_command,
                  std::string_view(R"({"cmd":"status","id":12345,"tags":["a","b"]})"));
BENCHMARK_CAPTURE(BM_is_stop_command, not_json, std::string_view("hello, sidecar"));

// About 1 MiB of mixed lines, some with multi-byte characters, none of them a stop.
std::string sample_stream() {
  const std::string_view lines[] = {
      R"({"cmd":"status"})"
      "\n",
      R"({"cmd":"note","text":"caf\u00e9 \u2014 \ud83d\ude00"})"
      "\n",
      "{\"cmd\":\"note\",\"text\":\"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80\"}\r\n",
      "\n",
  };
  std::string stream;
  for (std::size_t i = 0; stream.size() < (std::size_t{1} << 20); ++i) stream += lines[i % 4];
  return stream;
}

void BM_line_reader(benchmark::State& state) {
  const std::string stream = sample_stream();
  std::string line;
  std::int64_t lines = 0;
  for (auto _ : state) {
    std::string_view rest = stream;
    LineReader reader([&rest](char* buffer, std::size_t capacity) {
      const std::size_t size = std::min(capacity, rest.size());
      std::memcpy(buffer, rest.data(), size);
      rest.remove_prefix(size);
      return ReadResult{size == 0 ? ReadStatus::End : ReadStatus::Data, size};
    });
    while (reader.next(line) == LineStatus::Line) ++lines;
  }
  state.SetItemsProcessed(lines);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_line_reader);

}  // namespace
}  // namespace velmora
