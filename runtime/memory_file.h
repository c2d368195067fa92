// The in-memory file and the file-handle commands over it.
//
// A MemoryFile is a growable byte buffer with a position, like a file: writes past the end
// extend it, reads stop at the size. The handle commands (open_memory_file, read_line, ...)
// hand out records that live on one open-handle list; a handle is valid only while its record
// is on that list, so a stale or made-up handle value is rejected, never dereferenced. The list
// is locked: the HTTP routine reads headers through memory files on the main thread and on the
// update thread at the same time. Whatever is still open at exit is closed by the file exit
// hook.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>

#include "runtime/values.h"

namespace tambrel {

class MemoryFile {
 public:
  explicit MemoryFile(size_t growth_step = 1024) : growth_step_(growth_step) {}
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() { reset(); }

  int64_t position() const { return position_; }
  int64_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  const unsigned char* data() const { return data_; }

  // Raises the capacity to at least `needed` in whole growth steps. False when the growth step
  // is 0 (the buffer never grows) or the memory is refused.
  bool grow(size_t needed);
  // Origin 0 = start, 1 = current position, 2 = size. Another origin or a negative result
  // gives -1 and leaves the position; the position may lie beyond the size.
  int64_t seek(int64_t offset, int origin);
  // Grows if needed (new bytes read as zero), pulls the position back if it lies beyond.
  bool set_length(int64_t length);
  // Up to n bytes from the position; 0 when the position is at or beyond the size.
  size_t read(void* out, size_t n);
  // Writes at the position (a gap after a seek beyond the size is zero-filled), advances the
  // position and raises the size. Returns the bytes written: n, or 0 when memory is refused.
  size_t write(const void* data, size_t n);
  // The bytes from the position to the size, or at most `limit` of them; the position moves
  // past them. Returns their address (valid until the next write) and count.
  const unsigned char* take_range(size_t* count, std::optional<size_t> limit = std::nullopt);
  // Frees the buffer (when owned) and empties the file.
  void reset();

 private:
  size_t growth_step_;
  int64_t position_ = 0;
  size_t capacity_ = 0;
  int64_t size_ = 0;
  unsigned char* data_ = nullptr;
  bool owns_data_ = true;
};

// ---- handle commands --------------------------------------------------------------------

struct FileRecord;
using FileHandle = FileRecord*;

// A new memory file (growth step 1024) on the open-handle list.
FileHandle open_memory_file();
// Appends each value as text without terminator: a text as it is, anything else through
// value_to_text (skipped when that gives nothing). False for an invalid handle.
bool write_text_to_file(FileHandle handle, std::initializer_list<ArgValue> values);
inline bool write_text_to_file(FileHandle handle, const char* text) {
  return write_text_to_file(handle, {text_arg(text)});
}
bool rewind_file(FileHandle handle);
// True at or beyond the size, and for an invalid handle. With the flag, a NUL or 0x1A as the
// next byte also counts as the end.
bool at_end_of_file(FileHandle handle, std::optional<bool> stop_at_terminator = std::nullopt);
// The next line without its line end (CR, LF or CR LF). An empty line gives the empty text, an
// invalid handle null. An LF after an LF is an empty line of its own.
Text read_line(FileHandle handle);
// Closes and forgets the handle; a handle that is not open is ignored.
void close_file(FileHandle handle);

// The file exit hook: detaches the whole list and closes every handle on it. Registered with
// the exit chain while any handle is open.
void close_all_files();

// Handles currently open (for tests and diagnostics).
size_t open_file_count();

}  // namespace tambrel
