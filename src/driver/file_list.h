// The list of files to process: every command-line argument that is not an
// option, resolved with realpath(); a file is taken by its extension (or
// with -a by its signature), a folder gives the files inside it (with -r
// also those of every folder below), and each file is listed once however
// it was named.
#pragma once

#include <cstdint>

class TextBuffers;
struct FileIdentityIndex;

constexpr uint32_t kFileListCapacity = 1048576;

struct FileList {
  const char** names;             // resolved paths, in the order added
  uint8_t* formats;               // FileFormat per name when scanAll is set; 0 otherwise
  uint32_t capacity;              // entries the arrays hold
  const char* const* masks;       // "*.gz" ... or "*.*" with scanAll; null-terminated
  uint32_t recurse;               // copy of -r: a named folder's subfolders are walked too
  uint32_t scanAll;               // copy of -a
  uint32_t count;                 // entries in use
  TextBuffers* textStore;         // owns the text of every name
  FileIdentityIndex* identities;  // device and inode of every listed file
};

extern FileList fileList;

void CreateFileList(const char** names, uint8_t* formats, uint32_t capacity,
                    const char* const* masks, uint32_t recurse, uint32_t scanAll);

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
uint32_t AddFileSpec(const char* argument);

// Writes the path's extension (from its last dot after the last slash, dot
// included) into out, which holds 1024 bytes; empty when there is none.
void GetExtension(const char* path, char* out);

// Returns 1 and sets *format when the regular file starts with a known
// signature.
uint32_t DetectFormat(const char* path, uint8_t* format);

// Releases the name store and the identity index (part of CleanUp).
void ReleaseFileList();
