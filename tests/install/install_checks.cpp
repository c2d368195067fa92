// Checks of an installation made by Tambrel's installer, run inside the fresh Wine prefix that
// install_test.sh installed into: "Installed.*" after an install (the program and uninstaller
// in %LOCALAPPDATA%\Programs\Tambrel, the Start-menu shortcut, the current user's Uninstall
// key, and the installed program against the real stamp service), "Removed.*" after the
// silent uninstall (nothing of it left, nothing else touched).
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/catalog.h"
#include "tests/e2e/driver.h"

using namespace tambrel::e2e;

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tambrel";

std::string environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::wstring known_folder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result;
}

std::wstring install_folder() { return known_folder(FOLDERID_LocalAppData) + L"\\Programs\\Tambrel"; }
std::wstring shortcut_path() { return known_folder(FOLDERID_Programs) + L"\\Tambrel.lnk"; }

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string narrow(const std::wstring& w) {
  std::string s(w.size() * 2 + 1, '\0');
  s.resize(WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(),
                               static_cast<int>(s.size()), nullptr, nullptr));
  return s;
}

bool key_exists(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::wstring reg_text(const wchar_t* name) {
  wchar_t buffer[1024];
  DWORD bytes = sizeof(buffer);
  if (RegGetValueW(HKEY_CURRENT_USER, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return buffer;
}

long long reg_dword(const wchar_t* name) {
  DWORD value = 0, bytes = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, kUninstallKey, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes) !=
      ERROR_SUCCESS) {
    return -1;
  }
  return value;
}

// Entries under the current user's Uninstall key whose display name is Tambrel.
int tambrel_entries() {
  HKEY uninstall = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                    KEY_READ, &uninstall) != ERROR_SUCCESS) {
    return 0;
  }
  int count = 0;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    wchar_t shown[256];
    DWORD bytes = sizeof(shown);
    if (RegGetValueW(uninstall, name, L"DisplayName", RRF_RT_REG_SZ, nullptr, shown, &bytes) == ERROR_SUCCESS &&
        std::wstring(shown) == L"Tambrel") {
      ++count;
    }
  }
  RegCloseKey(uninstall);
  return count;
}

std::string show(const std::wstring& w) { return testing::PrintToString(w); }

class Installed : public testing::Test {
 protected:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(Installed, ProgramAndUninstallerInTheUsersProgramsFolder) {
  const std::wstring folder = install_folder();
  EXPECT_TRUE(exists(folder + L"\\Tambrel.exe")) << show(folder);
  EXPECT_TRUE(exists(folder + L"\\uninst.exe")) << show(folder);
}

TEST_F(Installed, UninstallEntryOfTheCurrentUser) {
  const std::wstring folder = install_folder();
  ASSERT_TRUE(key_exists(HKEY_CURRENT_USER, kUninstallKey));
  EXPECT_EQ(tambrel_entries(), 1) << "an upgrade must not leave a second entry";
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "per-user install wrote to the machine";

  const std::string expected_version = environment("TAMBREL_EXPECT_VERSION");  // ASCII digits
  const std::wstring version(expected_version.begin(), expected_version.end());
  const struct {
    const wchar_t* name;
    std::wstring value;
  } expected[] = {
      {L"DisplayName", L"Tambrel"},
      {L"DisplayVersion", version.empty() ? L"1.0" : version},
      {L"Publisher", L"Tambrel"},
      {L"DisplayIcon", folder + L"\\Tambrel.exe,0"},
      {L"InstallLocation", folder},
      {L"UninstallString", L"\"" + folder + L"\\uninst.exe\""},
      {L"QuietUninstallString", L"\"" + folder + L"\\uninst.exe\" /S"},
  };
  for (const auto& e : expected) EXPECT_EQ(reg_text(e.name), e.value) << show(e.name);
  EXPECT_EQ(reg_dword(L"NoModify"), 1);
  EXPECT_EQ(reg_dword(L"NoRepair"), 1);

  // The size in KiB is the program's, as Settings shows it.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW((folder + L"\\Tambrel.exe").c_str(), GetFileExInfoStandard, &data));
  const long long kib = (static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) / 1024;
  EXPECT_GE(reg_dword(L"EstimatedSize"), kib);
  EXPECT_LE(reg_dword(L"EstimatedSize"), kib + 256) << "more than the program and its uninstaller";
}

TEST_F(Installed, StartMenuShortcutStartsTheInstalledProgram) {
  const std::wstring folder = install_folder();
  const std::wstring link_path = shortcut_path();
  ASSERT_TRUE(exists(link_path)) << show(link_path);
  IShellLinkW* link = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                             reinterpret_cast<void**>(&link)),
            S_OK);
  IPersistFile* file = nullptr;
  ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)), S_OK);
  ASSERT_EQ(file->Load(link_path.c_str(), STGM_READ), S_OK);
  wchar_t text[MAX_PATH] = {};
  EXPECT_EQ(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH), S_OK);
  EXPECT_EQ(lstrcmpiW(text, (folder + L"\\Tambrel.exe").c_str()), 0) << show(text);
  // It starts in the user's Pictures folder, where the save dialog then opens, not in the
  // hidden program folder.
  text[0] = 0;
  link->GetWorkingDirectory(text, MAX_PATH);
  const std::wstring pictures = known_folder(FOLDERID_Pictures);
  EXPECT_EQ(lstrcmpiW(text, (exists(pictures) ? pictures : known_folder(FOLDERID_Documents)).c_str()), 0)
      << show(text);
  int icon = -1;
  text[0] = 0;
  link->GetIconLocation(text, MAX_PATH, &icon);
  EXPECT_EQ(lstrcmpiW(text, (folder + L"\\Tambrel.exe").c_str()), 0) << show(text);
  EXPECT_EQ(icon, 0);
  file->Release();
  link->Release();
}

// The installed program, started where the shortcut points, shows page 1 from the real
// service and caches the page's thumbnails in tmp\ beside itself.
TEST_F(Installed, InstalledProgramShowsPageOneAndCachesBesideItself) {
  const std::string stampd = environment("TAMBREL_STAMPD");
  if (stampd.empty()) GTEST_SKIP() << "TAMBREL_STAMPD is not set";
  tambrel::app::TemplateCatalog.redim(tambrel::app::kTemplateCount);
  tambrel::app::loadTemplateCatalog();
  start_winsock();
  ASSERT_TRUE(wait_until([] { return !port_accepts(kServicePort); }, seconds(60)))
      << "something else listens on 127.0.0.1:8077";
  TempFolder scratch;
  StampService service(stampd, scratch);
  ASSERT_TRUE(service.start());

  const std::string folder = narrow(install_folder());
  {
    Tool tool(folder + "\\Tambrel.exe", folder);
    ASSERT_TRUE(tool.started()) << "no main window";
    ASSERT_TRUE(tool.wait_for_page()) << "the first page was not shown";
    EXPECT_EQ(tool.rows().size(), 6u);
    EXPECT_EQ(tool.rows().front(), L"上一页");
    EXPECT_EQ(tool.selector_index(), 0);
    // The four templates of page 1, each thumbnail cached once it was fetched.
    std::vector<std::string> expected;
    for (int k = 2; k <= 5; ++k) expected.push_back(tambrel::app::TemplateCatalog[k].thumbnailFile.c_str());
    EXPECT_TRUE(wait_until(
        [&] {
          const std::vector<std::string> files = list_files(tool.cache_folder());
          return std::all_of(expected.begin(), expected.end(), [&](const std::string& name) {
            return std::find(files.begin(), files.end(), name) != files.end();
          });
        },
        seconds(20)))
        << "page 1's thumbnails not cached in " << tool.cache_folder();
    EXPECT_EQ(tool.close(), std::optional<DWORD>(0));
  }
  EXPECT_GE(service.count_targets_starting_with("/maker/thumbnails/"), 4u);
  EXPECT_TRUE(service.stop());
}

// After the silent uninstall (which finishes from a copy of itself, after the command
// returned): no program, cache, folder, shortcut or key, and the other programs' folders stay.
TEST(Removed, NothingOfTambrelIsLeftAndNothingElseIsTouched) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring folder = install_folder();
  wait_until([&] { return !exists(folder) && !exists(shortcut_path()) && !key_exists(HKEY_CURRENT_USER, kUninstallKey); },
             seconds(60));
  EXPECT_FALSE(exists(folder + L"\\Tambrel.exe"));
  EXPECT_FALSE(exists(folder + L"\\uninst.exe"));
  EXPECT_FALSE(exists(folder + L"\\tmp"));
  EXPECT_FALSE(exists(folder)) << show(folder);
  EXPECT_FALSE(exists(shortcut_path()));
  EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, kUninstallKey));
  EXPECT_EQ(tambrel_entries(), 0);
  const std::wstring programs = known_folder(FOLDERID_LocalAppData) + L"\\Programs";
  EXPECT_TRUE(exists(programs + L"\\Other\\keep.txt")) << "another program's file was removed";
  EXPECT_TRUE(exists(known_folder(FOLDERID_Programs))) << "the Start menu's folder was removed";
  CoUninitialize();
}

// A file the user saved into the program's folder survives the uninstall, and so does the
// folder that holds it; everything of the program's own is gone.
TEST(Removed, UsersOwnFileKeepsTheFolder) {
  const std::wstring folder = install_folder();
  wait_until([&] { return !exists(folder + L"\\uninst.exe") && !key_exists(HKEY_CURRENT_USER, kUninstallKey); },
             seconds(60));
  EXPECT_TRUE(exists(folder + L"\\我的印章.png"));
  EXPECT_FALSE(exists(folder + L"\\Tambrel.exe"));
  EXPECT_FALSE(exists(folder + L"\\uninst.exe"));
  EXPECT_FALSE(exists(folder + L"\\tmp"));
  EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, kUninstallKey));
}

// The working folder of another process, read from its process parameters as the system keeps
// them (PEB, then RTL_USER_PROCESS_PARAMETERS.CurrentDirectory.DosPath; x64 offsets).
std::wstring current_folder_of(DWORD pid) {
  using QueryFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!query || !process) return {};
  struct {
    PVOID reserved1;
    PVOID peb;
    PVOID reserved2[2];
    ULONG_PTR pid;
    PVOID reserved3;
  } basic{};
  std::wstring folder;
  ULONG_PTR parameters = 0;
  struct {
    USHORT length, maximum;
    ULONG pad;
    ULONG_PTR buffer;
  } dos_path{};
  if (query(process, 0, &basic, sizeof basic, nullptr) == 0 &&
      ReadProcessMemory(process, static_cast<char*>(basic.peb) + 0x20, &parameters, sizeof parameters, nullptr) &&
      ReadProcessMemory(process, reinterpret_cast<void*>(parameters + 0x38), &dos_path, sizeof dos_path, nullptr)) {
    folder.resize(dos_path.length / 2);
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(dos_path.buffer), folder.data(), dos_path.length, nullptr)) {
      folder.clear();
    }
  }
  CloseHandle(process);
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

// The finish page's "run" starts the program where the shortcut does (the Pictures folder),
// not in the install folder. The installer (TAMBREL_SETUP) is taken through its pages as a
// person does: "Install", "Next", "Finish" with "Run" left checked.
TEST(FinishPage, RunStartsTheProgramWhereTheShortcutDoes) {
  const std::string setup = environment("TAMBREL_SETUP");
  if (setup.empty()) GTEST_SKIP() << "TAMBREL_SETUP is not set";
  std::string command = "\"" + setup + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hThread);
  // The installer's own window (NSIS: a dialog) gets its default button pressed until it ends.
  const bool finished = wait_until(
      [&] {
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) return true;
        for (HWND w : process_windows(pi.dwProcessId, "#32770")) {
          HWND next = GetDlgItem(w, IDOK);
          if (next && IsWindowVisible(w) && IsWindowEnabled(next)) PostMessageW(next, BM_CLICK, 0, 0);
        }
        Sleep(300);
        return false;
      },
      seconds(90));
  CloseHandle(pi.hProcess);
  ASSERT_TRUE(finished) << "the installer did not finish";
  HWND tool = nullptr;
  ASSERT_TRUE(wait_until([&] { return (tool = FindWindowA("GdiPlusWin", nullptr)) != nullptr; }, seconds(30)))
      << "the finish page did not start the program";
  DWORD tool_pid = 0;
  GetWindowThreadProcessId(tool, &tool_pid);
  const std::wstring started_in = current_folder_of(tool_pid);
  EXPECT_EQ(lstrcmpiW(started_in.c_str(), known_folder(FOLDERID_Pictures).c_str()), 0)
      << show(started_in) << " instead of the Pictures folder " << show(known_folder(FOLDERID_Pictures));
  EXPECT_NE(lstrcmpiW(started_in.c_str(), install_folder().c_str()), 0) << "started in the install folder";
  PostMessageW(tool, WM_CLOSE, 0, 0);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, tool_pid);
  if (process) {
    WaitForSingleObject(process, 30000);
    CloseHandle(process);
  }
}

}  // namespace
