/* Loaded ahead of the C library by command-line tests, to play a failing
   disk, an attacker or an impatient user at a precise moment. SHIM_ACTION
   says what to do:
     fail-fsync          every flush to disk fails with EIO;
     slow-write          every fwrite of more than 64 KiB goes out in 64 KiB
                         pieces, each flushed and followed by a pause of a
                         millisecond: a slow disk, for a signal to arrive
                         while a large file is written;
     threads:N           only the first N threads start; later ones fail
                         with EAGAIN, as when a process may start no more;
     shrink:PATH         before the first pread, cuts PATH to 1 MiB: a file
                         that shrinks while it is streamed;
     rename-signal:N     sends signal N to the process as a file is renamed
                         over another: the same moment of the run whatever
                         the number of threads;
   or, once, when the program first changes the owner or permissions of a
   file or flushes one (fchown, fchmod, fsync, or their forms that take a
   name), before the call itself:
     append:PATH         appends a line to PATH (a log written meanwhile);
     swap:NAME:TARGET    renames NAME to NAME.moved and puts a symbolic link
                         to TARGET in its place;
     signal:N            sends signal N to the process. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static const char* Action(const char* prefix) {
  const char* action = getenv("SHIM_ACTION");
  size_t length = strlen(prefix);
  return action != NULL && strncmp(action, prefix, length) == 0 ? action + length : NULL;
}

static void Interfere(void) {
  static int done;
  const char* argument;
  if (done) return;
  done = 1;
  if ((argument = Action("append:")) != NULL) {
    int fd = open(argument, O_WRONLY | O_APPEND);
    if (fd >= 0) {
      (void)!write(fd, "appended meanwhile\n", 19);
      close(fd);
    }
  } else if ((argument = Action("swap:")) != NULL) {
    char name[4096], moved[4200];
    const char* colon = strchr(argument, ':');
    if (colon == NULL || (size_t)(colon - argument) >= sizeof name) return;
    memcpy(name, argument, (size_t)(colon - argument));
    name[colon - argument] = '\0';
    snprintf(moved, sizeof moved, "%s.moved", name);
    if (rename(name, moved) == 0) (void)!symlink(colon + 1, name);
  } else if ((argument = Action("signal:")) != NULL) {
    kill(getpid(), atoi(argument));
  }
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

int fsync(int fd) {
  if (Action("fail-fsync") != NULL) {
    errno = EIO;
    return -1;
  }
  Interfere();
  return NEXT(fsync)(fd);
}

int fdatasync(int fd) {
  if (Action("fail-fsync") != NULL) {
    errno = EIO;
    return -1;
  }
  Interfere();
  return NEXT(fdatasync)(fd);
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
  const size_t piece = 65536;
  size_t done = 0;
  if (Action("slow-write") == NULL || size != 1 || count <= piece)
    return NEXT(fwrite)(data, size, count, stream);
  while (done < count) {
    const size_t want = count - done < piece ? count - done : piece;
    const size_t put = NEXT(fwrite)((const char*)data + done, 1, want, stream);
    done += put;
    if (put < want || fflush(stream) != 0) break;
    usleep(1000);
  }
  return done;
}

int fchown(int fd, uid_t owner, gid_t group) {
  Interfere();
  return NEXT(fchown)(fd, owner, group);
}

int fchmod(int fd, mode_t mode) {
  Interfere();
  return NEXT(fchmod)(fd, mode);
}

int chown(const char* path, uid_t owner, gid_t group) {
  Interfere();
  return NEXT(chown)(path, owner, group);
}

int chmod(const char* path, mode_t mode) {
  Interfere();
  return NEXT(chmod)(path, mode);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* argument) {
  static int started;
  const char* limit = Action("threads:");
  if (limit != NULL && started >= atoi(limit)) return EAGAIN;
  ++started;
  return NEXT(pthread_create)(thread, attr, start, argument);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  const char* argument = Action("rename-signal:");
  if (argument != NULL) kill(getpid(), atoi(argument));
  return NEXT(renameat)(fromFolder, from, toFolder, to);
}

ssize_t pread(int fd, void* buffer, size_t n, off_t offset) {
  static int done;
  const char* path = Action("shrink:");
  if (path != NULL && !done) {
    done = 1;
    (void)!truncate(path, 1 << 20);
  }
  return NEXT(pread)(fd, buffer, n, offset);
}
