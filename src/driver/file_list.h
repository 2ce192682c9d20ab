// The list of files to process: every command-line argument that is not an
// option, resolved with realpath(); a file is taken by its extension (or
// with -a by its signature), a folder gives the files inside it (with -r
// also those of every folder below), and each file is listed once however
// it was named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "support/text_buffers.h"

namespace trimbit {

constexpr uint32_t kFileListCapacity = 1048576;  // the most files one run takes

// A file by device and inode, whatever its name.
struct FileIdentity {
  uint64_t device;
  uint64_t inode;
  bool operator==(const FileIdentity&) const = default;
};

struct FileIdentityHash {
  size_t operator()(const FileIdentity& id) const {
    return static_cast<size_t>(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
  }
};

struct FileList {
  std::vector<const char*> names;      // resolved paths, in the order added
  std::vector<uint8_t> formats;        // trimbit_format per name when scanAll is set; 0 otherwise
  uint32_t capacity = 0;               // the most entries the list takes
  const char* const* masks = nullptr;  // "*.gz" ... or "*.*" with scanAll; null-terminated
  uint32_t recurse = 0;                // copy of -r: a named folder's subfolders are walked too
  uint32_t scanAll = 0;                // copy of -a
  TextBuffers textStore;               // owns the text of every name
  std::unordered_set<FileIdentity, FileIdentityHash> identities;  // every listed file
};

// Empties the list and sets what it takes.
void CreateFileList(FileList& list, uint32_t capacity, const char* const* masks, uint32_t recurse,
                    uint32_t scanAll);

// Resolves the argument with realpath(). A file is listed unless its
// extension (or with -a its signature) is not one handled or the same file
// (same device and inode, whatever its name) is listed already. A folder
// lists the files directly inside it that would be listed if named, in the
// byte order of their names; with -r every folder below is walked too,
// depth first: a folder's files are listed where its name falls among its
// siblings. Symbolic links inside a folder are not followed; hidden files
// are included. Returns the number of files added. Throws "Could not
// resolve [argument]: reason", "Could not read folder [path]: reason", a
// message naming a path longer than 1023 characters, and "Too many files".
uint32_t AddFileSpec(FileList& list, const char* argument);

// Writes the path's extension (from its last dot after the last slash, dot
// included) into out, which holds 1024 bytes; empty when there is none.
void GetExtension(const char* path, char* out);

// Returns 1 and sets *format when the regular file starts with a known
// signature.
uint32_t DetectFormat(const char* path, uint8_t* format);

// Releases the names and the identity index (part of CleanUp).
void ReleaseFileList(FileList& list);

}  // namespace trimbit
