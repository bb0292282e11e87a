// An allocator to load before a program (LD_PRELOAD) so that one chosen
// request for memory fails, as it does when a machine runs out: with
// VELUMO_FAIL_ALLOCATION=N the N-th call of malloc, calloc, realloc or the
// aligned forms returns null (operator new then throws std::bad_alloc).
// With VELUMO_COUNT_ALLOCATIONS=FILE the number of requests the program made
// is written to FILE at its exit, so that a driver knows how many there are.
// Only requests from the start of main on are counted: the libraries the
// program links (poppler, qpdf and theirs) allocate while they are loaded,
// where a failure ends any program before it has touched a file.
// glibc's own allocator does the work; single-threaded programs only.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

long requests = 0;
long failing = -1;     // not read yet
bool started = false;  // main is about to run

// Counts one request; true if it is the one to fail.
bool Fails() {
  if (!started) return false;
  if (failing < 0) {
    const char* text = std::getenv("VELUMO_FAIL_ALLOCATION");
    failing = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  }
  if (++requests != failing) return false;
  errno = ENOMEM;
  return true;
}

// Writes the count without allocating.
__attribute__((destructor)) void WriteCount() {
  const char* file = std::getenv("VELUMO_COUNT_ALLOCATIONS");
  if (file == nullptr) return;
  const int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%ld\n", requests);
  if (length > 0) (void)!::write(fd, text, static_cast<std::size_t>(length));
  ::close(fd);
}

}  // namespace

extern "C" {

using MainFunction = int (*)(int, char**, char**);
using StartMain = int (*)(MainFunction, int, char**, void (*)(), void (*)(), void (*)(), void*);

// glibc calls this once the libraries are loaded, to run main.
int __libc_start_main(MainFunction main, int count, char** arguments, void (*init)(),
                      void (*fini)(), void (*loaderFini)(), void* stackEnd) {
  const auto next = reinterpret_cast<StartMain>(::dlsym(RTLD_NEXT, "__libc_start_main"));
  started = true;
  return next(main, count, arguments, init, fini, loaderFini, stackEnd);
}

void* malloc(std::size_t size) { return Fails() ? nullptr : __libc_malloc(size); }

void* calloc(std::size_t count, std::size_t size) {
  return Fails() ? nullptr : __libc_calloc(count, size);
}

void* realloc(void* block, std::size_t size) {
  return Fails() ? nullptr : __libc_realloc(block, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
  return Fails() ? nullptr : __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }

int posix_memalign(void** block, std::size_t alignment, std::size_t size) {
  void* got = memalign(alignment, size);
  if (got == nullptr) return ENOMEM;
  *block = got;
  return 0;
}

void free(void* block) { __libc_free(block); }

}  // extern "C"
