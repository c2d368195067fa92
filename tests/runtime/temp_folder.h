// A fresh folder under %TEMP% for one test, removed with everything in it afterwards.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace tambrel::test {

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%stambrel-test-%lu-%d", base, GetCurrentProcessId(),
                  counter.fetch_add(1));
    path_ = name;
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() { remove_tree(path_); }

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }

  // Names in the folder (no "." or ".."), for checks that nothing was left behind.
  std::string listing() const {
    std::string names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string n = found.cFileName;
      if (n != "." && n != "..") names += (names.empty() ? "" : "|") + n;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
  }

 private:
  static void remove_tree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::string n = found.cFileName;
        if (n == "." || n == "..") continue;
        const std::string p = folder + "\\" + n;
        SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          remove_tree(p);
        } else {
          DeleteFileA(p.c_str());
        }
      } while (FindNextFileA(h, &found));
      FindClose(h);
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(folder.c_str());
  }

  std::string path_;
};

}  // namespace tambrel::test
