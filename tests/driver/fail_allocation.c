/* Loaded ahead of the C library by a command-line test: the Nth allocation
   of 1 MiB or more fails, as it would when memory runs out (FAIL_ALLOCATION
   gives N). Not for sanitizer builds, whose allocator this would bypass. */
#include <errno.h>
#include <stdlib.h>

extern void* __libc_malloc(size_t size);

void* malloc(size_t size) {
  static long large;
  const char* n = getenv("FAIL_ALLOCATION");
  if (n != NULL && size >= (1u << 20) && ++large == atol(n)) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}
