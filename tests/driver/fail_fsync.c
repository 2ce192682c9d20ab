/* Loaded ahead of the C library by a command-line test: every flush to disk
   fails as a failing disk makes it fail. */
#include <errno.h>

int fsync(int fd) {
  (void)fd;
  errno = EIO;
  return -1;
}

int fdatasync(int fd) {
  (void)fd;
  errno = EIO;
  return -1;
}
