// The list of files to process: every command-line argument that is not an
// option, resolved with realpath(), filtered by extension (or with -a by its
// signature), and listed once however it was named.
#pragma once

#include <cstdint>

class TextBuffers;
struct FileNameIndex;

constexpr uint32_t kFileListCapacity = 1048576;

struct FileList {
  const char** names;        // resolved paths, in the order added
  uint8_t* formats;          // FileFormat per name when scanAll is set; 0 otherwise
  uint32_t capacity;         // entries the arrays hold
  const char* const* masks;  // "*.gz" ... or "*.*" with scanAll; null-terminated
  uint32_t recurse;          // copy of -r; nothing reads it
  uint32_t scanAll;          // copy of -a
  uint32_t count;            // entries in use
  TextBuffers* textStore;    // owns the text of every name
  FileNameIndex* nameIndex;  // the listed names, case-folded, for finding duplicates
};

extern FileList fileList;

void CreateFileList(const char** names, uint8_t* formats, uint32_t capacity,
                    const char* const* masks, uint32_t recurse, uint32_t scanAll);

// Resolves the argument with realpath() and lists it unless its extension
// (or with -a its signature) is not one handled or the same path, ignoring
// case, is listed already. Returns the number of files added, 0 or 1.
// Throws "realpath() failed", a message naming a resolved path longer than
// 1023 characters, and "Too many files".
uint32_t AddFileSpec(const char* argument);

// Writes the path's extension (from its last dot after the last slash, dot
// included) into out, which holds 1024 bytes; empty when there is none.
void GetExtension(const char* path, char* out);

// Returns 1 and sets *format when the file starts with a known signature.
uint32_t DetectFormat(const char* path, uint8_t* format);

// Releases the name store (part of CleanUp).
void ReleaseFileList();
