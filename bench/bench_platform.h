#pragma once

#include <cstdint>

namespace velmora::bench {

// Where platform_write_stdout sends its bytes in the bench binary; -1 drops them.
void set_stdout_fd(int fd);

// Heap allocations made so far by the calling thread (counted by the bench binary's
// global operator new).
std::uint64_t thread_allocations();

}  // namespace velmora::bench
