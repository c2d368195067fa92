// Memory files and the open-handle list. The buffer lives on the C library heap; the handle
// records on the runtime heap. Every handle command takes the list lock for its whole run, so
// a close on one thread can never free a file another thread is reading.
#include "runtime/memory_file.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "runtime/text.h"

namespace tambrel {

// ---- MemoryFile -------------------------------------------------------------------------

bool MemoryFile::grow(size_t needed) {
  if (capacity_ >= needed) return true;
  if (growth_step_ == 0) return false;
  size_t capacity = capacity_;
  while (capacity < needed) {
    if (capacity > SIZE_MAX - growth_step_) return false;
    capacity += growth_step_;
  }
  void* p = std::realloc(owns_data_ ? data_ : nullptr, capacity);
  if (!p) return false;
  if (!owns_data_ && data_) std::memcpy(p, data_, static_cast<size_t>(size_));
  data_ = static_cast<unsigned char*>(p);
  capacity_ = capacity;
  owns_data_ = true;
  return true;
}

int64_t MemoryFile::seek(int64_t offset, int origin) {
  int64_t base;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = position_;
      break;
    case 2:
      base = size_;
      break;
    default:
      return -1;
  }
  if ((offset > 0 && base > INT64_MAX - offset)) return -1;
  const int64_t target = base + offset;
  if (target < 0) return -1;
  position_ = target;
  return target;
}

bool MemoryFile::set_length(int64_t length) {
  if (length < 0) return false;
  if (!grow(static_cast<size_t>(length))) return false;
  if (length > size_) std::memset(data_ + size_, 0, static_cast<size_t>(length - size_));
  if (position_ > length) position_ = length;
  size_ = length;
  return true;
}

size_t MemoryFile::read(void* out, size_t n) {
  if (position_ >= size_) return 0;
  const size_t available = static_cast<size_t>(size_ - position_);
  const size_t count = n < available ? n : available;
  if (count) std::memcpy(out, data_ + position_, count);
  position_ += static_cast<int64_t>(count);
  return count;
}

size_t MemoryFile::write(const void* data, size_t n) {
  if (n == 0) return 0;
  const uint64_t end = static_cast<uint64_t>(position_) + n;
  if (end > static_cast<uint64_t>(INT64_MAX) || !grow(static_cast<size_t>(end))) return 0;
  // Bytes skipped by a seek beyond the size read back as zero, not as old heap content.
  if (position_ > size_) std::memset(data_ + size_, 0, static_cast<size_t>(position_ - size_));
  std::memcpy(data_ + position_, data, n);
  position_ = static_cast<int64_t>(end);
  if (position_ > size_) size_ = position_;
  return n;
}

const unsigned char* MemoryFile::take_range(size_t* count, std::optional<size_t> limit) {
  *count = 0;
  if (position_ >= size_) return nullptr;
  size_t n = static_cast<size_t>(size_ - position_);
  if (limit && *limit < n) n = *limit;
  const unsigned char* at = data_ + position_;
  position_ += static_cast<int64_t>(n);
  *count = n;
  return at;
}

void MemoryFile::reset() {
  if (owns_data_) std::free(data_);
  data_ = nullptr;
  owns_data_ = true;
  position_ = 0;
  capacity_ = 0;
  size_ = 0;
}

// ---- handles ----------------------------------------------------------------------------

constexpr int32_t kMemoryFileKind = 2;

struct FileRecord {
  int32_t kind;
  MemoryFile* file;
  FileRecord* next;
};

namespace {

std::mutex g_list_mutex;
FileRecord* g_open = nullptr;  // newest first

// The record when `handle` is on the open list; the caller holds the lock.
FileRecord* find_open(FileHandle handle) {
  for (FileRecord* r = g_open; r; r = r->next) {
    if (r == handle) return r->kind == kMemoryFileKind ? r : nullptr;
  }
  return nullptr;
}

void destroy(FileRecord* r) {
  delete r->file;
  rt_free(r);
}

void close_all_files_hook() { close_all_files(); }

}  // namespace

FileHandle open_memory_file() {
  auto* record = static_cast<FileRecord*>(rt_alloc(sizeof(FileRecord)));
  record->kind = kMemoryFileKind;
  record->file = new MemoryFile(1024);
  std::lock_guard lock(g_list_mutex);
  record->next = g_open;
  if (!g_open) set_file_exit_hook(&close_all_files_hook);
  g_open = record;
  return record;
}

bool write_text_to_file(FileHandle handle, std::initializer_list<ArgValue> values) {
  std::lock_guard lock(g_list_mutex);
  FileRecord* r = find_open(handle);
  if (!r) return false;
  bool ok = true;
  for (const ArgValue& v : values) {
    if (v.tag == TYPE_TEXT) {
      const char* t = static_cast<const char*>(v.value.ptr);
      const size_t n = text_length(t);
      if (n && r->file->write(t, n) != n) ok = false;
    } else {
      Text t = value_to_text(v);
      if (!t.empty() && r->file->write(t.c_str(), t.size()) != t.size()) ok = false;
    }
  }
  return ok;
}

bool rewind_file(FileHandle handle) {
  std::lock_guard lock(g_list_mutex);
  FileRecord* r = find_open(handle);
  return r && r->file->seek(0, 0) == 0;
}

bool at_end_of_file(FileHandle handle, std::optional<bool> stop_at_terminator) {
  std::lock_guard lock(g_list_mutex);
  FileRecord* r = find_open(handle);
  if (!r) return true;
  const MemoryFile& f = *r->file;
  if (f.position() >= f.size()) return true;
  if (stop_at_terminator.value_or(false)) {
    const unsigned char next = f.data()[f.position()];
    return next == 0 || next == 0x1A;
  }
  return false;
}

Text read_line(FileHandle handle) {
  std::lock_guard lock(g_list_mutex);
  FileRecord* r = find_open(handle);
  if (!r) return {};
  MemoryFile& f = *r->file;
  const int64_t start = f.position();
  size_t rest = 0;
  const unsigned char* at = f.take_range(&rest);
  // A byte scan is safe here: GBK trail bytes (0x40..0xFE) are never CR or LF.
  size_t line = 0;
  while (line < rest && at[line] != '\r' && at[line] != '\n') ++line;
  size_t consumed = line;
  if (line < rest) {
    // CR LF is one line end; a lone CR or LF is one too. An LF after an LF starts an empty
    // line of its own rather than being swallowed as part of the first line end.
    consumed += at[line] == '\r' && line + 1 < rest && at[line + 1] == '\n' ? 2 : 1;
  }
  f.seek(start + static_cast<int64_t>(consumed), 0);
  return Text(
      reinterpret_cast<const char*>(at ? at : reinterpret_cast<const unsigned char*>(EMPTY_TEXT)),
      line);
}

void close_file(FileHandle handle) {
  FileRecord* found = nullptr;
  {
    std::lock_guard lock(g_list_mutex);
    for (FileRecord** link = &g_open; *link; link = &(*link)->next) {
      if (*link == handle) {
        found = *link;
        *link = found->next;
        break;
      }
    }
    if (found && !g_open) set_file_exit_hook(nullptr);
  }
  if (found) destroy(found);
}

void close_all_files() {
  FileRecord* list;
  {
    std::lock_guard lock(g_list_mutex);
    list = g_open;
    g_open = nullptr;
    set_file_exit_hook(nullptr);
  }
  while (list) {
    FileRecord* next = list->next;
    destroy(list);
    list = next;
  }
}

size_t open_file_count() {
  std::lock_guard lock(g_list_mutex);
  size_t n = 0;
  for (FileRecord* r = g_open; r; r = r->next) ++n;
  return n;
}

}  // namespace tambrel
