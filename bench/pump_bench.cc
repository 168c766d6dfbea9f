// Lines per second from the event pump into a pipe, beside a plain loop that writes
// the same lines into the same kind of pipe with one write each (the limit). In both, a
// reader thread drains the pipe to /dev/null, and each iteration waits until the reader
// has every byte of its batch.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_platform.h"
#include "event_stream.h"
#include "event_channel.h"

namespace velmora {
namespace {

constexpr std::size_t batch_lines = 4096;

std::vector<KeyEvent> batch_events() {
  std::vector<KeyEvent> events;
  for (std::size_t i = 0; i < batch_lines; ++i) {
    events.push_back(KeyEvent{0x41 + static_cast<std::uint32_t>(i / 2 % 26), i % 2 == 0});
  }
  return events;
}

// A pipe whose read end a thread drains into /dev/null, counting the bytes.
class DrainedPipe {
 public:
  DrainedPipe() {
    if (::pipe(fds_) != 0) std::abort();
    null_fd_ = ::open("/dev/null", O_WRONLY);
    reader_ = std::thread([this] {
      std::vector<char> buffer(64 * 1024);
      for (;;) {
        const ssize_t got = ::read(fds_[0], buffer.data(), buffer.size());
        if (got <= 0) break;
        (void)!::write(null_fd_, buffer.data(), static_cast<std::size_t>(got));
        received_.fetch_add(static_cast<std::uint64_t>(got));
        received_.notify_one();
      }
    });
  }
  ~DrainedPipe() {
    ::close(fds_[1]);
    reader_.join();
    ::close(fds_[0]);
    ::close(null_fd_);
  }

  int write_fd() const { return fds_[1]; }

  // Waits until the reader has taken `total` bytes since the pipe was made.
  void wait_for(std::uint64_t total) {
    for (std::uint64_t seen = received_.load(); seen < total; seen = received_.load()) {
      received_.wait(seen);
    }
  }

 private:
  int fds_[2] = {-1, -1};
  int null_fd_ = -1;
  std::atomic<std::uint64_t> received_{0};
  std::thread reader_;
};

std::uint64_t batch_bytes(const std::vector<KeyEvent>& events) {
  std::uint64_t bytes = 0;
  for (const KeyEvent& event : events) bytes += key_event_line(event).size() + 1;
  return bytes;
}

void BM_event_pump(benchmark::State& state) {
  const std::vector<KeyEvent> events = batch_events();
  const std::uint64_t bytes_per_batch = batch_bytes(events);
  DrainedPipe pipe;
  bench::set_stdout_fd(pipe.write_fd());
  open_event_output();
  EventChannel channel = make_event_channel();
  std::thread pump(event_pump, std::move(channel.receiver));
  std::uint64_t expected = 0;
  std::uint64_t full = 0;
  for (auto _ : state) {
    for (const KeyEvent& event : events) {
      // The keyboard filter would drop on a full queue; here every line must go through,
      // so the sender waits its turn instead.
      while (channel.sender.try_send(event) == SendResult::Full) {
        ++full;
        std::this_thread::yield();
      }
    }
    expected += bytes_per_batch;
    pipe.wait_for(expected);
  }
  { EventSender ended = std::move(channel.sender); }  // ends the pump
  pump.join();
  bench::set_stdout_fd(-1);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(batch_lines));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes_per_batch));
  state.counters["full_waits"] = static_cast<double>(full);
}
BENCHMARK(BM_event_pump)->UseRealTime();

void BM_plain_write_loop(benchmark::State& state) {
  std::vector<std::string> lines;
  std::uint64_t bytes_per_batch = 0;
  for (const KeyEvent& event : batch_events()) {
    lines.push_back(key_event_line(event) + '\n');
    bytes_per_batch += lines.back().size();
  }
  DrainedPipe pipe;
  std::uint64_t expected = 0;
  for (auto _ : state) {
    for (const std::string& line : lines) {
      // One write per line: a pipe write is unbuffered, so it is the flush as well.
      if (::write(pipe.write_fd(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        state.SkipWithError("short write");
        return;
      }
    }
    expected += bytes_per_batch;
    pipe.wait_for(expected);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(batch_lines));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes_per_batch));
}
BENCHMARK(BM_plain_write_loop)->UseRealTime();

}  // namespace
}  // namespace velmora
