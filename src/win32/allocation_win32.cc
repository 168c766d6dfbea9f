// Memory exhaustion ends the process at once with a notice naming the request's size.
// Replacing the global allocation functions is the one place that knows the size.

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <new>
#include <string_view>

namespace {

[[noreturn]] void out_of_memory(std::size_t size) noexcept {
  // Composed by hand: printf's formatter would be linked in for this one line.
  constexpr std::string_view head = "memory allocation of ";
  constexpr std::string_view tail = " bytes failed\n";
  char notice[80];
  char* end = std::copy(head.begin(), head.end(), notice);
  end = std::to_chars(end, notice + sizeof(notice) - tail.size(), size).ptr;
  end = std::copy(tail.begin(), tail.end(), end);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error != nullptr && error != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    (void)WriteFile(error, notice, static_cast<DWORD>(end - notice), &written, nullptr);
  }
  // Fail fast: no clean-up of any kind may run on a heap that cannot serve.
  (void)TerminateProcess(GetCurrentProcess(), 134);
  std::abort();
}

void* allocate(std::size_t size) noexcept {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) out_of_memory(size);
  return memory;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
