// Files and folders as whole units: the program folder, existence, reading and writing a whole
// file, creating one folder level. Paths are GBK texts for the ANSI file functions. Failures
// are results (null, 0), never messages.
#pragma once

#include <initializer_list>

#include "runtime/values.h"

namespace tambrel {

// Folder of the program's own executable, without the trailing backslash; empty on failure.
Text program_folder();

// The part of a path before its last backslash or slash (null when there is none). Found
// by walking characters: a GBK trail byte may be 0x5C, and a name such as "乗.png" (81 5C)
// must not be cut inside its character.
Text path_folder(const char* path);

bool file_exists(const char* path);

// The whole file, or null when it cannot be opened or read; an empty file gives a block of
// length 0.
Bytes read_whole_file(const char* path);

// Writes the blocks back to back as the new content of the file. The content goes to a
// temporary file beside the target first ("<target>.~tmb<process id>-<n>") and replaces the
// target in one step, keeping the old file's attributes, so a failed write leaves the old file
// as it was (and removes the temporary file). Temporary files of the same target that ended
// processes left behind are removed. Where the temporary name would exceed MAX_PATH, the file
// is written in place. A path in a missing folder creates nothing and gives false.
bool write_whole_file(const char* path, std::initializer_list<const BytesBlock*> blocks);
inline bool write_whole_file(const char* path, const BytesBlock* block) {
  return write_whole_file(path, {block});
}

// Removes from the folder the temporary files of write_whole_file that processes which have
// ended left behind (a crash between writing and replacing), whatever their target. Files of
// running writers stay.
void remove_abandoned_writes(const char* folder);

// One folder level; false when the parent is missing or the folder already exists.
bool create_folder(const char* path);

}  // namespace tambrel
