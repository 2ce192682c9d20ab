// Replacing a file by the temporary file written in its place, so that
// neither a race on the names, nor a change of the file meanwhile, nor a
// failure loses anything: the new file takes the old one's owner, group,
// permissions, extended attributes and ACL (and with -d its modification
// time, to the nanosecond) through its descriptor, is flushed to disk, and
// is renamed over the old file in one step only if the old file is still
// exactly the one that was read. The folder itself is not flushed: after a
// crash it names either the old file or the new one, each complete.
#pragma once

#include <cstddef>

namespace trimbit {

struct FileState;
struct ReplacementTarget;

// Opens the folder of `path` (an absolute path) and the file in it, and
// records the file's status in `target`. Refuses what is not a regular file
// ("Is a directory [path]", "Not a regular file [path]") without reading it.
void OpenReplacementTarget(const char* path, ReplacementTarget& target);

// Gives the written temporary file (created by OpenTemporaryFile in the
// folder of the file's target) the old file's metadata and flushes it to
// disk. Returns false, with the temporary file removed and the reason
// written into `reason` (`size` bytes), when the owner, the permissions, an
// extended attribute or (with `preserveDate`) the time of the old file
// cannot be given to the new one. Throws, with the temporary file removed,
// when the flush fails.
bool ReadyTemporaryFile(FileState& file, bool preserveDate, char* reason, size_t size);

// Moves the ready temporary file over `path` in one step, if the old file
// is still exactly the one that was opened and the temporary name still
// leads to the file written. Throws, with the temporary file removed (or
// named in the message when it cannot be) and `path` untouched, when not or
// when the rename fails.
void MoveTemporaryFile(const char* path, FileState& file);

}  // namespace trimbit
