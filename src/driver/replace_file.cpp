#include "driver/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/extended_attributes.h"
#include "driver/file_state.h"
#include "support/error.h"
#include "support/signal_cleanup.h"

namespace trimbit {
namespace {

[[noreturn]] void RefuseSystem(const char* action, const char* path, int error) {
  Refuse(FormatText("Could not %s [%s]: %s", action, path, std::strerror(error)));
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The file is still the very one that was read, unchanged.
bool Unchanged(const struct stat& then, const struct stat& now) {
  return then.st_dev == now.st_dev && then.st_ino == now.st_ino && then.st_size == now.st_size &&
         SameTime(then.st_mtim, now.st_mtim) && SameTime(then.st_ctim, now.st_ctim);
}

// Gives the new file the old one's metadata. Returns false with the reason
// when a piece of it cannot be kept. The order matters: a change of owner
// clears set-id bits and file capabilities, and setting an ACL rewrites the
// group permission bits; the permissions come last, and a chmod with the old
// file's own bits leaves the copied ACL's mask as it was.
bool KeepMetadata(const ReplacementTarget& target, bool preserveDate, char* reason, size_t size) {
  const struct stat& old = target.examined;
  struct stat now;
  if (::fstat(target.temporary, &now) != 0) {
    std::snprintf(reason, size, "The new file cannot be examined (%s)", std::strerror(errno));
    return false;
  }
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      ::fchown(target.temporary, old.st_uid, old.st_gid) != 0) {
    std::snprintf(reason, size, "Owner and group cannot be kept (%s)", std::strerror(errno));
    return false;
  }
  char attribute[256];
  const int error =
      CopyExtendedAttributes(target.original, target.temporary, attribute, sizeof attribute);
  if (error != 0) {
    std::snprintf(reason, size, "Extended attribute %s cannot be copied (%s)", attribute,
                  std::strerror(error));
    return false;
  }
  if (::fchmod(target.temporary, old.st_mode & 07777) != 0) {
    std::snprintf(reason, size, "Permissions cannot be kept (%s)", std::strerror(errno));
    return false;
  }
  if (preserveDate) {
    // Set last: nothing after it writes to the file.
    const struct timespec times[2] = {old.st_mtim, old.st_mtim};
    if (::futimens(target.temporary, times) != 0) {
      std::snprintf(reason, size, "Modification time cannot be kept (%s)", std::strerror(errno));
      return false;
    }
  }
  return true;
}

// Ends the run with "message [path]" once the temporary file is gone (a
// failure to remove it is reported instead, naming the file left behind).
[[noreturn]] void DiscardAndRefuse(FileState& file, const char* message, const char* path) {
  DiscardTemporaryFile(file);
  Refuse(FormatText("%s [%s]", message, path));
}

}  // namespace

void OpenReplacementTarget(const char* path, ReplacementTarget& target) {
  const char* slash = std::strrchr(path, '/');
  if (path[0] != '/' || slash == nullptr) Fault("OpenReplacementTarget(): Path not absolute!?!?!?");
  const char* base = slash + 1;
  if (std::strlen(base) > NAME_MAX) RefuseSystem("open", path, ENAMETOOLONG);
  char folder[2048];
  const size_t folderLength = slash == path ? 1 : static_cast<size_t>(slash - path);
  if (folderLength >= sizeof folder) RefuseSystem("open", path, ENAMETOOLONG);
  std::memcpy(folder, path, folderLength);
  folder[folderLength] = '\0';

  target.folder = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (target.folder < 0) RefuseSystem("open", path, errno);
  // Judged before it is opened: opening a pipe or a device would wait for a
  // writer, read without end or set a device in motion.
  struct stat status;
  if (::fstatat(target.folder, base, &status, AT_SYMLINK_NOFOLLOW) != 0)
    RefuseSystem("open", path, errno);
  if (S_ISDIR(status.st_mode)) Refuse(FormatText("Is a directory [%s]", path));
  if (!S_ISREG(status.st_mode)) Refuse(FormatText("Not a regular file [%s]", path));
  target.original =
      ::openat(target.folder, base, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (target.original < 0) RefuseSystem("open", path, errno);
  if (::fstat(target.original, &target.examined) != 0) RefuseSystem("examine", path, errno);
  if (target.examined.st_dev != status.st_dev || target.examined.st_ino != status.st_ino)
    Refuse(FormatText("File changed while being processed [%s]", path));
  std::snprintf(target.baseName, sizeof target.baseName, "%s", base);
  std::snprintf(target.temporaryBaseName, sizeof target.temporaryBaseName, "%strbQLX", base);
}

bool ReadyTemporaryFile(FileState& file, bool preserveDate, char* reason, size_t size) {
  ReplacementTarget& target = file.target;
  if (!target.temporaryCreated || target.temporary < 0)
    Fault("ReadyTemporaryFile(): No temporary file!?!?!?");
  if (!KeepMetadata(target, preserveDate, reason, size)) {
    DiscardTemporaryFile(file);
    return false;
  }
  // On disk before the rename can publish it.
  if (::fsync(target.temporary) != 0) {
    const int error = errno;
    const std::string temporaryName = file.tempFileName;  // discarding forgets it
    DiscardTemporaryFile(file);
    RefuseSystem("flush", temporaryName.c_str(), error);
  }
  return true;
}

void MoveTemporaryFile(const char* path, FileState& file) {
  ReplacementTarget& target = file.target;
  if (!target.temporaryCreated || target.temporary < 0)
    Fault("MoveTemporaryFile(): No temporary file!?!?!?");
  // Kept for the messages: discarding the temporary file forgets its name.
  const std::string temporaryName = file.tempFileName;
  const char* temporaryPath = temporaryName.c_str();

  // As late as possible: whatever changed the old file since it was read
  // (text appended to a log, say) would be lost by the rename.
  struct stat now;
  if (::fstatat(target.folder, target.baseName, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      !Unchanged(target.examined, now))
    DiscardAndRefuse(file, "File changed while being processed", path);
  // The name must still lead to the file written; whatever it leads to
  // now is not this run's to rename or remove.
  struct stat written, named;
  if (::fstat(target.temporary, &written) != 0 ||
      ::fstatat(target.folder, target.temporaryBaseName, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      written.st_dev != named.st_dev || written.st_ino != named.st_ino) {
    {
      SignalsHeld held;
      target.temporaryCreated = 0;
      DisarmSignalCleanup(target.cleanupSlot);
    }
    DiscardAndRefuse(file, "Temporary file changed while being processed", temporaryPath);
  }

  int renameError = 0, removeError = 0;
  {
    SignalsHeld held;
    if (::renameat(target.folder, target.temporaryBaseName, target.folder, target.baseName) != 0) {
      renameError = errno;
      if (::unlinkat(target.folder, target.temporaryBaseName, 0) != 0) removeError = errno;
    }
    target.temporaryCreated = 0;
    DisarmSignalCleanup(target.cleanupSlot);
  }
  if (renameError != 0) {
    if (removeError != 0)
      Refuse(FormatText("Could not replace [%s]: %s (the new file [%s] could not be removed: %s)",
                        path, std::strerror(renameError), temporaryPath,
                        std::strerror(removeError)));
    RefuseSystem("replace", path, renameError);
  }
  DiscardTemporaryFile(file);  // closes its descriptor; the name is the file's now
}

}  // namespace trimbit
