// What Windows reads from Tambrel.exe before any of its code runs: the application manifest
// (resource 1 of type RT_MANIFEST) and the version resource that Explorer's Properties show.
// Both the executable of the build and the stripped one that is released are checked, through
// the system's own readers: GetFileVersionInfo/VerQueryValue, the resource functions, and an
// activation context made from the manifest.
#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using testing::HasSubstr;

namespace {

std::wstring widen(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  w.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(),
                               static_cast<int>(w.size())));
  return w;
}

// "/x/y" (as ctest passes it) -> "Z:\x\y".
std::wstring windows_path(const char* unix_or_windows) {
  std::string p = unix_or_windows;
  if (!p.empty() && p[0] == '/') {
    for (char& c : p) {
      if (c == '/') c = '\\';
    }
    p = "Z:" + p;
  }
  return widen(p);
}

struct Executable {
  const char* environment;  // variable that names it
  const char* what;
};
const Executable kExecutables[] = {
    {"TAMBREL_TOOL", "built"},
    {"TAMBREL_RELEASED_TOOL", "released (stripped)"},
};

class ReleaseResources : public testing::TestWithParam<Executable> {
 protected:
  void SetUp() override {
    const char* v = std::getenv(GetParam().environment);
    if (!v || !*v) GTEST_SKIP() << GetParam().environment << " is not set";
    path_ = windows_path(v);
    ASSERT_NE(GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES) << v;
  }

  std::vector<BYTE> version_block() const {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(path_.c_str(), 0, size, block.data())) block.clear();
    return block;
  }

  // The text of resource 1 of type RT_MANIFEST, and how many manifests the file holds.
  std::string manifest(int* count) const {
    HMODULE file = LoadLibraryExW(path_.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!file) return {};
    *count = 0;
    EnumResourceNamesW(
        file, MAKEINTRESOURCEW(24) /* RT_MANIFEST */,
        [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR counter) -> BOOL {
          ++*reinterpret_cast<int*>(counter);
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(count));
    std::string text;
    if (HRSRC r = FindResourceW(file, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
      const char* bytes = static_cast<const char*>(LockResource(LoadResource(file, r)));
      if (bytes) text.assign(bytes, SizeofResource(file, r));
    }
    FreeLibrary(file);
    return text;
  }

  std::wstring path_;
};

TEST_P(ReleaseResources, VersionNumbersAreOnePointZero) {
  std::vector<BYTE> block = version_block();
  ASSERT_FALSE(block.empty()) << "no version resource";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);              // .0.0
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "neither debug nor pre-release";
}

TEST_P(ReleaseResources, StringsAreSimplifiedChineseCodePage936) {
  std::vector<BYTE> block = version_block();
  ASSERT_FALSE(block.empty());
  struct Translation {
    WORD language, code_page;
  }* translations = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translations), &length));
  ASSERT_EQ(length, sizeof(Translation)) << "exactly one language";
  EXPECT_EQ(translations[0].language, 0x0804);
  EXPECT_EQ(translations[0].code_page, 936);

  const struct {
    const wchar_t* name;
    std::wstring value;
  } expected[] = {
      {L"ProductName", L"Tambrel"},
      {L"ProductVersion", L"1.0.0.0"},
      {L"FileVersion", L"1.0.0.0"},
      {L"FileDescription", L"Tambrel 印章制作工具"},
      {L"LegalCopyright", L"版权所有 © 2026 Tambrel"},
      {L"CompanyName", L"Tambrel"},
      {L"OriginalFilename", L"Tambrel.exe"},
      {L"InternalName", L"Tambrel"},
  };
  for (const auto& e : expected) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\080403a8\\") + e.name;
    wchar_t* value = nullptr;
    UINT chars = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars))
        << testing::PrintToString(std::wstring(e.name));
    EXPECT_EQ(std::wstring(value), e.value) << testing::PrintToString(std::wstring(e.name));
  }
}

TEST_P(ReleaseResources, ManifestAsksForCommonControlsSixAndNamesTheSystems) {
  int count = 0;
  const std::string text = manifest(&count);
  ASSERT_FALSE(text.empty()) << "no RT_MANIFEST resource 1";
  EXPECT_EQ(count, 1) << "the toolchain's default manifest would compete with ours";
  EXPECT_THAT(text, HasSubstr(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"));
  EXPECT_THAT(text, HasSubstr(R"(publicKeyToken="6595b64144ccf1df")"));
  EXPECT_THAT(text, HasSubstr(R"(level="asInvoker")"));
  for (const char* os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                         "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_THAT(text, HasSubstr(std::string("<supportedOS Id=\"") + os + "\"/>"));
  }
  // Per-monitor DPI aware (it lays itself out for each monitor), asking for no GDI scaling.
  EXPECT_THAT(text, HasSubstr(">true/pm</dpiAware>"));
  EXPECT_THAT(text, HasSubstr(">PerMonitorV2, PerMonitor</dpiAwareness>"));
  EXPECT_THAT(text, testing::Not(HasSubstr("gdiScaling")));
}

std::wstring lower_module_path(HMODULE module) {
  wchar_t name[MAX_PATH] = {};
  GetModuleFileNameW(module, name, MAX_PATH);
  CharLowerW(name);
  return name;
}

// The loader's view: an activation context made from the executable's manifest resolves
// comctl32.dll to version 6 from the side-by-side store, where "SysLink" lives on Windows.
// (Wine's copy reports 5.81 from DllGetVersion whichever version it is loaded as, so the
// module's place shows the version here.)
TEST_P(ReleaseResources, ManifestActivatesCommonControlsSix) {
  ACTCTXW context{};
  context.cbSize = sizeof(context);
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = path_.c_str();
  context.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE handle = CreateActCtxW(&context);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE) << "manifest not accepted, error " << GetLastError();
  ULONG_PTR cookie = 0;
  ASSERT_TRUE(ActivateActCtx(handle, &cookie));
  HMODULE v6 = LoadLibraryW(L"comctl32.dll");
  DeactivateActCtx(0, cookie);
  ReleaseActCtx(handle);
  ASSERT_NE(v6, nullptr);
  const std::wstring where = lower_module_path(v6);
  EXPECT_THAT(where, HasSubstr(L"\\winsxs\\")) << testing::PrintToString(where);
  EXPECT_THAT(where, HasSubstr(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."))
      << testing::PrintToString(where);

  // "SysLink" registers from version 6.
  auto init = reinterpret_cast<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(
      reinterpret_cast<void*>(GetProcAddress(v6, "InitCommonControlsEx")));
  ASSERT_NE(init, nullptr);
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LINK_CLASS};
  EXPECT_TRUE(init(&icc));
  WNDCLASSEXW link{};
  link.cbSize = sizeof(link);
  EXPECT_TRUE(GetClassInfoExW(v6, L"SysLink", &link));
  FreeLibrary(v6);
}

INSTANTIATE_TEST_SUITE_P(Executables, ReleaseResources, testing::ValuesIn(kExecutables),
                         [](const testing::TestParamInfo<Executable>& info) {
                           return std::string(info.param.environment) == "TAMBREL_TOOL" ? "Built"
                                                                                         : "Released";
                         });

}  // namespace
