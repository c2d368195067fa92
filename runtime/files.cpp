// Whole-file commands over the ANSI file functions.
//
// Writing never truncates the target in place: the new content is written to a temporary file
// beside it and moved over it with MoveFileExA(MOVEFILE_REPLACE_EXISTING), which replaces the
// directory entry in one step. A failure at any point (folder missing, disk full, target locked
// or read-only) removes the temporary file and leaves the old content untouched, so a cache
// file is never left half-written.
#include "runtime/files.h"

#include <shlwapi.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "runtime/unique_handle.h"

namespace tambrel {

Text program_folder() {
  // ANSI paths stop at MAX_PATH; a longer buffer costs nothing and keeps a truncated name
  // from being cut at the wrong backslash.
  char path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return Text(EMPTY_TEXT);
  Text folder = path_folder(path);
  return folder.get() ? std::move(folder) : Text(EMPTY_TEXT);
}

Text path_folder(const char* path) {
  const char* cut = nullptr;
  for (const char* p = path; p && *p;) {
    if (*p == '\\' || *p == '/') cut = p;
    p += (static_cast<unsigned char>(*p) & 0x80) && p[1] ? 2 : 1;
  }
  return cut ? Text(path, static_cast<size_t>(cut - path)) : Text();
}

bool file_exists(const char* path) { return PathFileExistsA(path) != FALSE; }

Bytes read_whole_file(const char* path) {
  unique_file file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr));
  if (!file) return {};
  LARGE_INTEGER size;
  // A block's length is a 32-bit field: larger files cannot be held and read as null.
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return {};
  const DWORD n = static_cast<DWORD>(size.QuadPart);
  Bytes block = n ? Bytes::zeroed(n) : Bytes(&EMPTY_BYTES, 0);
  DWORD done = 0;
  while (done < n) {
    DWORD got = 0;
    if (!ReadFile(file.get(), block.data() + done, n - done, &got, nullptr) || got == 0) {
      return {};  // a short read is a failed read, not a block with a zero tail
    }
    done += got;
  }
  return block;
}

namespace {

// The folder of a path as GetTempFileNameA wants it: "." for a bare name, the root itself
// for "\\name" and "C:\\name".
std::string temp_folder_for(const char* path) {
  Text folder = path_folder(path);
  if (!folder.get()) return ".";
  std::string f(folder.c_str());
  if (f.empty() || (f.size() == 2 && f[1] == ':')) f += '\\';
  return f;
}

bool write_blocks(HANDLE file, std::initializer_list<const BytesBlock*> blocks) {
  for (const BytesBlock* b : blocks) {
    if (!b || b->length <= 0) continue;
    const unsigned char* data = b->data();
    DWORD left = static_cast<DWORD>(b->length);
    while (left) {
      DWORD written = 0;
      if (!WriteFile(file, data, left, &written, nullptr) || written == 0) return false;
      data += written;
      left -= written;
    }
  }
  return FlushFileBuffers(file) != FALSE;
}

}  // namespace

bool write_whole_file(const char* path, std::initializer_list<const BytesBlock*> blocks) {
  if (!path || !*path) return false;
  // A read-only file or a folder is never replaced. (The system refuses both when the target
  // is opened for writing; a rename over them is refused on Windows but not everywhere.)
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    return false;
  }
  const std::string folder = temp_folder_for(path);
  char temp[MAX_PATH];
  // Creates the (empty) temporary file; fails in a missing folder, creating nothing.
  if (!GetTempFileNameA(folder.c_str(), "tmb", 0, temp)) return false;

  bool ok;
  {
    unique_file file(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                 FILE_ATTRIBUTE_ARCHIVE, nullptr));
    ok = file && write_blocks(file.get(), blocks);
  }
  ok = ok && MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(temp);
  return ok;
}

bool create_folder(const char* path) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  return CreateDirectoryA(path, &attributes) != FALSE;
}

}  // namespace tambrel
