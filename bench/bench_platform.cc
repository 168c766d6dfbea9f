// The bench binary's stand-in for the platform seam: only what the measured units call.
// Also counts heap allocations per thread, so a benchmark can show a path never allocates.

#include "bench_platform.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "platform.h"

namespace {

std::atomic<int> stdout_fd{-1};
thread_local std::uint64_t allocations = 0;

}  // namespace

void* operator new(std::size_t size) {
  ++allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t /*size*/) noexcept { std::free(memory); }

namespace velmora {

namespace bench {

void set_stdout_fd(int fd) { stdout_fd.store(fd); }

std::uint64_t thread_allocations() { return allocations; }

}  // namespace bench

// Linked with the event stream's exit paths, which the benchmarks never take.
void platform_exit(int status) { std::_Exit(status); }

// The benchmarks measure the pump's own work, at the priority they were started with.
void platform_raise_thread_priority() {}

bool platform_write_stdout(const char* data, std::size_t size) {
  const int fd = stdout_fd.load();
  if (fd < 0) return true;
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace velmora
