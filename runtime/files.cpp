// Whole-file commands over the system's wide file functions: paths are texts (GBK, and
// GB18030 for other characters) converted to UTF-16, so any path works on any system locale.
//
// Writing never truncates the target in place: the new content is written to a temporary file
// beside it, given the old file's attributes, and then takes the target's place in one step
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING). A failure at any point (folder missing, disk
// full, target locked or read-only) removes the temporary file and leaves the old content
// untouched, so a cache file is never left half-written.
//
// The temporary file is named after its target: "<target>.~tmb<process id>-<n>". A process that
// ends between writing and replacing leaves one behind; the next write of the same target
// recognises it by that name and removes it once its writer is gone, and a sweep of a whole
// folder (the program's cache, at start) removes those of targets never written again. Where the temporary name
// would not fit the path limit (MAX_PATH) although the target's does, the file is written in place,
// as the plain command does: a path that fits must not fail for the sake of the temporary one.
#include "runtime/files.h"

#include <shlwapi.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <cwctype>
#include <cwchar>

#include "runtime/text.h"
#include "runtime/unique_handle.h"

namespace tambrel {

Text program_folder() {
  // A longer buffer than MAX_PATH costs nothing and keeps a truncated name from being cut at
  // the wrong backslash.
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  if (n == 0 || n >= MAX_PATH * 2) return Text(EMPTY_TEXT);
  const Text whole = wide_to_text(path, n);
  Text folder = path_folder(whole.c_str());
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

bool file_exists(const char* path) { return path && *path && PathFileExistsW(text_to_wide(path).c_str()) != FALSE; }

Bytes read_whole_file(const char* path) {
  unique_file file(CreateFileW(text_to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

// Attributes a replaced file keeps (read-only files and folders are never replaced).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

constexpr char kTempMarker[] = ".~tmb";  // between the target's name and the writer's id
constexpr size_t kTempMarkerLength = sizeof(kTempMarker) - 1;

// The name temporary files of the target with this file name start with: the name itself, or
// "~" and the name where the name is a device's ("NUL.png.~tmb..." would be the device NUL).
std::string temp_stem(const std::string& name) {
  return device_name_length(text_to_wide(name.c_str())) ? "~" + name : name;
}

// The name of a fresh temporary file beside `path`, or empty when it would not fit in
// MAX_PATH. The process id tells a leftover of an ended process from a file being written.
std::string temp_name_for(const char* path) {
  static std::atomic<unsigned> counter{0};
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, "%s%lx-%x", kTempMarker, GetCurrentProcessId(),
                counter.fetch_add(1));
  const Text folder = path_folder(path);
  const size_t name_at = folder.get() ? folder.size() + 1 : 0;
  std::string temp = std::string(path, name_at) + temp_stem(path + name_at) + suffix;
  if (text_to_wide(temp.c_str()).size() >= MAX_PATH) return {};
  return temp;
}

// Is the process with this id still running? A process this user may not open (another
// user's instance writing to a shared folder) is running: its file is left alone. Only an id
// that names no process (ERROR_INVALID_PARAMETER) counts as ended.
bool process_running(DWORD id) {
  if (id == GetCurrentProcessId()) return true;
  unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, id));
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// Is `name` a temporary file of this program whose writer has ended? `stem` is the part before
// the marker that it must carry ("" for any), compared without case as the file system does.
// The writer's id is the hex number behind the marker, ended by "-"; anything else is not ours.
bool abandoned(const char* name, const std::string& stem) {
  const char* marker = nullptr;
  for (const char* p = name; (p = StrStrIA(p, kTempMarker)) != nullptr; ++p) marker = p;
  if (!marker) return false;
  if (!stem.empty() && (static_cast<size_t>(marker - name) != stem.size() ||
                        _strnicmp(name, stem.c_str(), stem.size()) != 0))
    return false;
  const char* id = marker + kTempMarkerLength;
  char* end = nullptr;
  const unsigned long writer = std::strtoul(id, &end, 16);
  if (end == id || *end != '-') return false;
  return !process_running(static_cast<DWORD>(writer));
}

// Deletes the abandoned temporary files in `folder` ("" for the current one) that carry `stem`
// ("" for any target). A wildcard search also matches the short forms of names, so each long
// name is checked again.
void remove_abandoned(const std::string& folder, const std::string& stem) {
  const std::string folder_prefix = folder.empty() ? "" : folder + "\\";
  const std::string pattern = folder_prefix + stem + "*" + kTempMarker + "*";
  const std::wstring wide_pattern = text_to_wide(pattern.c_str());
  if (wide_pattern.size() >= MAX_PATH) return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide_pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const Text name = wide_to_text(found.cFileName);
    if (name.get() && abandoned(name.c_str(), stem)) {
      DeleteFileW(text_to_wide((folder_prefix + name.c_str()).c_str()).c_str());
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// Removes the temporary files that writes of `path` by ended processes left behind. A file of
// a running writer (this process included) is left to that writer.
void remove_leftovers(const char* path) {
  const Text folder = path_folder(path);
  const std::string name = path + (folder.get() ? folder.size() + 1 : 0);
  remove_abandoned(folder.get() ? folder.c_str() : "", temp_stem(name));
}

// Moves `from` over `to` in one step. A reader that has the target open without delete
// sharing (a virus scanner or indexer looking at a file just written, a viewer reading it)
// holds the replace off only while it reads: a few short retries, 150 ms in all, ride that
// out instead of losing the write. Anything else fails at once.
bool replace_with(const char* from, const char* to) {
  for (DWORD pause = 10;; pause *= 2) {
    if (MoveFileExW(text_to_wide(from).c_str(), text_to_wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                      error == ERROR_LOCK_VIOLATION;
    if (!held || pause > 80) return false;
    Sleep(pause);
  }
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
  const std::wstring wide_path = text_to_wide(path);
  const DWORD attributes = GetFileAttributesW(wide_path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    return false;
  }
  const std::string temp = temp_name_for(path);
  if (temp.empty()) {
    // An existing hidden or system file can only be re-created with its own attributes.
    unique_file file(CreateFileW(wide_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 exists ? attributes & kKeptAttributes : FILE_ATTRIBUTE_ARCHIVE,
                                 nullptr));
    return file && write_blocks(file.get(), blocks);
  }
  remove_leftovers(path);

  bool ok;
  {
    // Fails in a missing folder, creating nothing.
    unique_file file(CreateFileW(text_to_wide(temp.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file) return false;
    ok = write_blocks(file.get(), blocks);
  }
  // The new content takes the old file's attributes before it takes its place, so the
  // replace stays one step. (ReplaceFileA would keep them too on Windows, but under Wine it
  // drops them and leaves a backup file of its own behind when the target is held.)
  if (ok && exists) {
    const DWORD kept = attributes & kKeptAttributes;
    ok = SetFileAttributesW(text_to_wide(temp.c_str()).c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL) != FALSE;
  }
  ok = ok && replace_with(temp.c_str(), path);
  if (!ok) DeleteFileW(text_to_wide(temp.c_str()).c_str());
  return ok;
}

bool write_new_file(const char* path, const BytesBlock* block) {
  if (!path || !*path || file_exists(path)) return false;
  const std::string temp = temp_name_for(path);
  if (temp.empty()) return false;
  remove_leftovers(path);
  bool ok;
  {
    unique_file file(CreateFileW(text_to_wide(temp.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file) return false;
    ok = write_blocks(file.get(), {block});
  }
  // Without MOVEFILE_REPLACE_EXISTING: where the target appeared meanwhile the move fails, and
  // that file stays as its writer left it.
  ok = ok && MoveFileExW(text_to_wide(temp.c_str()).c_str(), text_to_wide(path).c_str(), MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(text_to_wide(temp.c_str()).c_str());
  return ok;
}

size_t device_name_length(std::wstring_view name) {
  size_t stem = name.find(L'.');
  if (stem == std::wstring_view::npos) stem = name.size();
  while (stem > 0 && name[stem - 1] == L' ') --stem;
  const std::wstring_view part = name.substr(0, stem);
  auto is = [&](const wchar_t* device) {
    const size_t n = std::wcslen(device);
    if (part.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
      if (std::towupper(part[i]) != device[i]) return false;
    }
    return true;
  };
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (is(device)) return stem;
  }
  if (part.size() == 4) {
    const std::wstring_view head = part.substr(0, 3);
    const wchar_t digit = part[3];
    const bool numbered = (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
    bool com = true, lpt = true;
    for (size_t i = 0; i < 3; ++i) {
      com = com && std::towupper(head[i]) == L"COM"[i];
      lpt = lpt && std::towupper(head[i]) == L"LPT"[i];
    }
    if (numbered && (com || lpt)) return stem;
  }
  return 0;
}

void remove_abandoned_writes(const char* folder) {
  if (folder && *folder) remove_abandoned(folder, "");
}

bool create_folder(const char* path) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  return path && *path && CreateDirectoryW(text_to_wide(path).c_str(), &attributes) != FALSE;
}

}  // namespace tambrel
