// Files and folders as whole units: the program folder, existence, reading and writing a whole
// file, creating one folder level. Paths are GBK texts for the ANSI file functions. Failures
// are results (null, 0), never messages.
#pragma once

#include <initializer_list>
#include <string_view>

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
// temporary file beside the target first ("<target>.~tmb<process id>-<n>", with "~" in front
// where the target's name is a device name, so that the temporary one is never a device) and replaces the
// target in one step, keeping the old file's attributes, so a failed write leaves the old file
// as it was (and removes the temporary file). Temporary files of the same target that ended
// processes left behind are removed. Where the temporary name would exceed MAX_PATH, the file
// is written in place. A path in a missing folder creates nothing and gives false.
bool write_whole_file(const char* path, std::initializer_list<const BytesBlock*> blocks);
inline bool write_whole_file(const char* path, const BytesBlock* block) {
  return write_whole_file(path, {block});
}

// Writes the block as a new file, only where none is there: the content goes to a temporary file
// first and is moved to the target's name without replacing anything, so a file another process
// writes meanwhile (under the same name) always wins and a reader never sees half of it. False
// when the file exists (or the write fails); nothing is left behind.
bool write_new_file(const char* path, const BytesBlock* block);

// Removes from the folder the temporary files of write_whole_file that processes which have
// ended left behind (a crash between writing and replacing), whatever their target. Files of
// running writers stay.
void remove_abandoned_writes(const char* folder);

// Is the file name (no folder) one that Windows 10 and earlier take for a device: CON, PRN,
// AUX, NUL, COM1-9, LPT1-9 (also with superscript digits), CONIN$, CONOUT$, in any case, alone
// or before an extension ("NUL.png", "com1 .txt")? Such a file is no file there. Returns the
// length of the device part (what comes before the extension and its spaces), 0 for any
// other name.
size_t device_name_length(std::wstring_view file_name);

// One folder level; false when the parent is missing or the folder already exists.
bool create_folder(const char* path);

}  // namespace tambrel
