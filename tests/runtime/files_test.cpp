// Whole-file commands against the real file system, in a fresh folder under %TEMP% per test.
// The replace tests hold the old file in ways that make the final step fail, and check that
// the old content survives and no temporary file is left behind.
#include "runtime/files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <atomic>
#include <thread>

#include "runtime/text.h"

#include "tests/runtime/temp_folder.h"

using namespace tambrel;
using tambrel::test::TempFolder;

namespace {

std::string contents(const Bytes& b) {
  return b.get() ? std::string(reinterpret_cast<const char*>(b.data()), b.size()) : "<null>";
}

Bytes bytes_of(const std::string& s) { return Bytes(s.data(), s.size()); }

// Puts exactly `content` into the file, with the system's own calls.
void put_file(const std::string& path, const std::string& content) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(h);
}

TEST(ProgramFolder, IsTheFolderOfThisExecutableWithoutTrailingBackslash) {
  Text folder = program_folder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.view().back(), '\\');
  char own[MAX_PATH];
  GetModuleFileNameA(nullptr, own, sizeof own);
  const std::string own_path = own;
  const std::string own_name = own_path.substr(own_path.rfind('\\') + 1);
  EXPECT_TRUE(file_exists((std::string(folder.c_str()) + "\\" + own_name).c_str()));
}

TEST(PathFolder, CutsAtTheLastSeparatorBetweenCharacters) {
  struct Case {
    const char* path;
    const char* expected;  // null: no separator at all
  };
  const Case cases[] = {
      {"C:\\A\\B\\x.exe", "C:\\A\\B"},
      {"C:\\x.exe", "C:"},
      {"\\x.exe", ""},
      {"tmp/thumb.png", "tmp"},
      {"x.exe", nullptr},
      {"", nullptr},
      // 乗 is 81 5C: its trail byte is a backslash, and it is no separator.
      {"C:\\A\\\x81\x5C.png", "C:\\A"},
      {"C:\\\x81\x5C\\x.png", "C:\\\x81\x5C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Text folder = path_folder(c.path);
    if (!c.expected) {
      EXPECT_EQ(folder.get(), nullptr);
    } else {
      EXPECT_STREQ(folder.c_str(), c.expected);
    }
  }
}

TEST(WriteWholeFile, NameWhoseTrailByteIsABackslash) {
  TempFolder dir;
  const std::string path = dir.file("\x81\x5C.png");  // 乗.png
  Bytes a = bytes_of("seal");
  ASSERT_TRUE(write_whole_file(path.c_str(), a.block()));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "seal");
  EXPECT_EQ(dir.listing(), "\x81\x5C.png");
}

TEST(FileExists, FilesAndFoldersExistMissingOnesDoNot) {
  TempFolder dir;
  put_file(dir.file("a.bin"), "x");
  EXPECT_TRUE(file_exists(dir.file("a.bin").c_str()));
  EXPECT_TRUE(file_exists(dir.path().c_str()));
  EXPECT_FALSE(file_exists(dir.file("missing.bin").c_str()));
  EXPECT_FALSE(file_exists(dir.file("no\\such\\x.bin").c_str()));
}

TEST(ReadWholeFile, MissingIsNullEmptyIsZeroLengthBlock) {
  TempFolder dir;
  EXPECT_EQ(read_whole_file(dir.file("missing.bin").c_str()).get(), nullptr);

  put_file(dir.file("empty.bin"), "");
  Bytes empty = read_whole_file(dir.file("empty.bin").c_str());
  ASSERT_NE(empty.get(), nullptr) << "an existing empty file is a block of length 0";
  EXPECT_EQ(empty.get()->one, 1);
  EXPECT_EQ(empty.size(), 0u);

  std::string binary("\x89PNG\r\n\x1a\n\0\0\x01", 11);
  binary += std::string(100000, '\xA5');
  put_file(dir.file("pic.png"), binary);
  EXPECT_EQ(contents(read_whole_file(dir.file("pic.png").c_str())), binary);
}

TEST(ReadWholeFile, ReadsAFileAnotherHandleIsWriting) {
  TempFolder dir;
  const std::string path = dir.file("open.txt");
  put_file(path, "shared");
  HANDLE writer =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "shared");
  CloseHandle(writer);
}

TEST(WriteWholeFile, WritesBlocksBackToBackAndReplacesLongerContent) {
  TempFolder dir;
  const std::string path = dir.file("out.bin");
  put_file(path, std::string(5000, 'o'));  // longer than the new content: no old tail may stay
  Bytes a = bytes_of("first,");
  Bytes b = bytes_of(std::string("sec\0nd", 6));
  EXPECT_TRUE(write_whole_file(path.c_str(), {a.block(), &EMPTY_BYTES, b.block()}));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), std::string("first,sec\0nd", 12));
  EXPECT_EQ(dir.listing(), "out.bin") << "no temporary file left";

  EXPECT_TRUE(write_whole_file(path.c_str(), &EMPTY_BYTES));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "");
  EXPECT_TRUE(write_whole_file(dir.file("new.bin").c_str(), a.block()));
  EXPECT_EQ(contents(read_whole_file(dir.file("new.bin").c_str())), "first,");
}

TEST(WriteWholeFile, MissingFolderGivesFalseAndCreatesNothing) {
  TempFolder dir;
  Bytes a = bytes_of("data");
  EXPECT_FALSE(write_whole_file(dir.file("missing\\out.bin").c_str(), a.block()));
  EXPECT_FALSE(file_exists(dir.file("missing").c_str()));
  EXPECT_EQ(dir.listing(), "");
  EXPECT_FALSE(write_whole_file("", a.block()));
}

// Each case holds the target so that replacing it must fail.
struct HeldTarget {
  const char* name;
  // Makes the target unreplaceable; returns what to release afterwards (or null).
  HANDLE (*hold)(const std::string& path);
};

HANDLE lock_without_sharing(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}
HANDLE open_for_reading_without_delete_share(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}
HANDLE make_read_only(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  return nullptr;
}

TEST(WriteWholeFile, FailedReplaceLeavesTheOldFileAndNoTemporaryFile) {
  const HeldTarget cases[] = {
      {"locked without sharing", &lock_without_sharing},
      {"open without delete sharing", &open_for_reading_without_delete_share},
      {"read-only file", &make_read_only},
  };
  for (const HeldTarget& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    const std::string path = dir.file("cache.png");
    put_file(path, "old picture");
    HANDLE held = c.hold(path);
    Bytes fresh = bytes_of("new picture, longer than the old one");
    EXPECT_FALSE(write_whole_file(path.c_str(), fresh.block()));
    if (held && held != INVALID_HANDLE_VALUE) CloseHandle(held);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(contents(read_whole_file(path.c_str())), "old picture");
    EXPECT_EQ(dir.listing(), "cache.png") << "the temporary file is removed";
  }
}

// A reader that holds the target only for a moment (as a scanner does with a file just
// written) delays the replace instead of failing it.
TEST(WriteWholeFile, ReaderHoldingTheTargetBrieflyOnlyDelaysTheReplace) {
  TempFolder dir;
  const std::string path = dir.file("cache.png");
  put_file(path, "old picture");
  HANDLE held = open_for_reading_without_delete_share(path);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread reader([held] {
    Sleep(40);
    CloseHandle(held);
  });
  Bytes fresh = bytes_of("new picture");
  EXPECT_TRUE(write_whole_file(path.c_str(), fresh.block()));
  reader.join();
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "new picture");
  EXPECT_EQ(dir.listing(), "cache.png");
}

TEST(WriteWholeFile, TargetThatIsAFolderIsLeftAlone) {
  TempFolder dir;
  ASSERT_TRUE(create_folder(dir.file("sub").c_str()));
  Bytes a = bytes_of("data");
  EXPECT_FALSE(write_whole_file(dir.file("sub").c_str(), a.block()));
  EXPECT_TRUE(GetFileAttributesA(dir.file("sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(dir.listing(), "sub");
}

// The deepest folder the ANSI calls create (MAX_PATH - 12 characters): a target in it still
// fits in MAX_PATH, a temporary name made longer than the target does not.
std::string deepest_folder(const std::string& base) {
  std::string folder = base;
  const size_t limit = MAX_PATH - 12;
  while (folder.size() < limit) {
    const size_t room = limit - folder.size() - 1;
    folder += "\\" + std::string(std::min<size_t>(room, 60), 'd');
    if (!CreateDirectoryA(folder.c_str(), nullptr)) return {};
  }
  return folder;
}

TEST(WriteWholeFile, TargetInAFolderTooDeepForATemporaryNameIsWrittenInPlace) {
  TempFolder dir;
  const std::string folder = deepest_folder(dir.path());
  ASSERT_FALSE(folder.empty());
  const std::string path = folder + "\\stamp.png";
  ASSERT_LT(path.size(), static_cast<size_t>(MAX_PATH));
  Bytes first = bytes_of("a longer first content");
  Bytes second = bytes_of("second");
  EXPECT_TRUE(write_whole_file(path.c_str(), first.block()));
  EXPECT_TRUE(write_whole_file(path.c_str(), second.block()));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "second");
}

TEST(WriteWholeFile, ReplacedFileKeepsItsAttributes) {
  TempFolder dir;
  const std::string path = dir.file("kept.png");
  put_file(path, "old");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  Bytes fresh = bytes_of("new");
  EXPECT_TRUE(write_whole_file(path.c_str(), fresh.block()));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "new");
  EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(dir.listing(), "kept.png");
}

TEST(WriteWholeFile, LeftoversOfEndedWritersOfTheSameTargetAreRemoved) {
  TempFolder dir;
  const std::string path = dir.file("cache.png");
  char own[64];
  std::snprintf(own, sizeof own, "cache.png.~tmb%lx-99", GetCurrentProcessId());
  // An id no process has: its writer is gone.
  put_file(dir.file("cache.png.~tmbfffffff0-3"), "half a picture");
  put_file(dir.file(own), "being written by this process");
  put_file(dir.file("cache.png.~tmbnotes"), "not a temporary file of this program");
  put_file(dir.file("other.png.~tmbfffffff0-4"), "another target's");
  Bytes fresh = bytes_of("picture");
  EXPECT_TRUE(write_whole_file(path.c_str(), fresh.block()));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "picture");
  EXPECT_FALSE(file_exists(dir.file("cache.png.~tmbfffffff0-3").c_str()));
  EXPECT_TRUE(file_exists(dir.file(own).c_str())) << "a running writer's file stays";
  EXPECT_TRUE(file_exists(dir.file("cache.png.~tmbnotes").c_str()));
  EXPECT_TRUE(file_exists(dir.file("other.png.~tmbfffffff0-4").c_str()))
      << "only the written target's leftovers are looked at";
}

TEST(RemoveAbandonedWrites, SweepsEveryTargetsLeftoversOfEndedWritersOnly) {
  TempFolder dir;
  char own[64];
  std::snprintf(own, sizeof own, "b.png.~tmb%lx-1", GetCurrentProcessId());
  const char* gone[] = {"a.png.~tmbfffffff0-0", "模板.png.~TMBfffffff1-2", "x.~tmb1.png.~tmbfffffff2-5"};
  const char* kept[] = {"a.png", "b.png.~tmbnotes", "c.png.~tmb-1", "d.~tmbfffffff0", "e.png.~tmbzz-1"};
  for (const char* n : gone) put_file(dir.file(n), "half a picture");
  for (const char* n : kept) put_file(dir.file(n), "kept");
  put_file(dir.file(own), "being written by this process");
  ASSERT_TRUE(create_folder(dir.file("sub.~tmbfffffff0-1").c_str()));
  remove_abandoned_writes(dir.path().c_str());
  for (const char* n : gone) EXPECT_FALSE(file_exists(dir.file(n).c_str())) << n;
  for (const char* n : kept) EXPECT_TRUE(file_exists(dir.file(n).c_str())) << n;
  EXPECT_TRUE(file_exists(dir.file(own).c_str())) << "a running writer's file stays";
  EXPECT_TRUE(file_exists(dir.file("sub.~tmbfffffff0-1").c_str())) << "folders are not touched";
}

TEST(CreateFolder, OneLevelOnly) {
  TempFolder dir;
  EXPECT_TRUE(create_folder(dir.file("tmp").c_str()));
  EXPECT_TRUE(file_exists(dir.file("tmp").c_str()));
  EXPECT_FALSE(create_folder(dir.file("tmp").c_str())) << "existing folder";
  EXPECT_FALSE(create_folder(dir.file("a\\b").c_str())) << "missing parent";
  EXPECT_FALSE(file_exists(dir.file("a").c_str()));
}

TEST(Files, GbkFileNamesRoundTrip) {
  TempFolder dir;
  const std::string path = dir.file("印章\\模板.png");
  ASSERT_TRUE(create_folder(dir.file("印章").c_str()));
  Bytes a = bytes_of("seal");
  ASSERT_TRUE(write_whole_file(path.c_str(), a.block()));
  EXPECT_TRUE(file_exists(path.c_str()));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "seal");
}

// Any character in a folder or file name, the program's own folder included (its cache path
// is built from it): 䶮 and ⿰ have two-byte codes that code page 936 lacks, € has a two-byte
// code where 936 writes one byte, 😀 a four-byte one.
TEST(Files, AnyCharacterInFolderAndFileNames) {
  TempFolder dir;
  const std::wstring wide_dir = std::wstring(dir.path().begin(), dir.path().end()) + L"\\刘\u4DAE\u2FF0€\U0001F600";
  const Text folder = wide_to_text(wide_dir.c_str());
  ASSERT_TRUE(create_folder(folder.c_str()));
  const Text path = text_concat({folder.c_str(), "\\", wide_to_text(L"€印\U0001F600.png").c_str()});
  Bytes a = bytes_of("seal");
  ASSERT_TRUE(write_whole_file(path.c_str(), a.block()));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "seal");
  // Under exactly that name, as the system sees it.
  const DWORD attributes = GetFileAttributesW((wide_dir + L"\\€印\U0001F600.png").c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  const Text back = path_folder(path.c_str());
  EXPECT_EQ(text_to_wide(back.c_str()), wide_dir);
}

TEST(DeviceNameLength, DevicesWithAnyExtensionAndCase) {
  struct Case {
    const wchar_t* name;
    size_t expected;
  };
  const Case cases[] = {
      {L"CON", 3},       {L"con.png", 3},    {L"NUL.png", 3},      {L"nul.txt.png", 3}, {L"PRN", 3},
      {L"Aux.png", 3},   {L"COM1.png", 4},   {L"com9", 4},         {L"LPT1.png", 4},    {L"lpt9.x", 4},
      {L"COM\u00B9.png", 4},                 {L"NUL .png", 3},     {L"CONIN$.png", 6},  {L"conout$", 7},
      {L"CON_.png", 0},  {L"CONSOLE.png", 0}, {L"COM0.png", 0},    {L"COM10.png", 0},   {L"LPT.png", 0},
      {L"印章.png", 0},  {L"XCON.png", 0},   {L".png", 0},         {L"", 0},            {L"NULL.png", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(device_name_length(c.name), c.expected) << std::string(wide_to_text(c.name).c_str());
}

// The temporary file of a device-named target never carries the device's name: "NUL.png.~tmb..."
// would be the device NUL itself on Windows 10 and before.
TEST(WriteWholeFile, TemporaryOfADeviceNamedTargetIsNoDevice) {
  TempFolder dir;
  char leftover[64];
  std::snprintf(leftover, sizeof leftover, "~nul.png.~tmbfffffff0-1");
  put_file(dir.file(leftover), "an ended writer's");
  Bytes a = bytes_of("x");
  write_whole_file(dir.file("nul.png").c_str(), a.block());
  // Its leftovers carry the "~" name too, which is how they are found and removed.
  EXPECT_FALSE(file_exists(dir.file(leftover).c_str()));
  for (const char* name : {"nul.png.~tmb", "NUL.png.~tmb"}) {
    EXPECT_EQ(dir.listing().find(name), std::string::npos) << dir.listing();
  }
}

TEST(WriteNewFile, CreatesAMissingFileAndNeverReplacesOne) {
  TempFolder dir;
  const std::string path = dir.file("thumb.png");
  Bytes first = bytes_of("thumbnail");
  ASSERT_TRUE(write_new_file(path.c_str(), first.block()));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "thumbnail");
  Bytes second = bytes_of("another thumbnail");
  EXPECT_FALSE(write_new_file(path.c_str(), second.block()));
  EXPECT_EQ(contents(read_whole_file(path.c_str())), "thumbnail");
  EXPECT_EQ(dir.listing(), "thumb.png") << "no temporary file is left behind";
  EXPECT_FALSE(write_new_file(dir.file("missing\\thumb.png").c_str(), first.block()));
  EXPECT_EQ(dir.listing(), "thumb.png");
}

// A stamp written while a thumbnail of the same file is being created is what stays, whichever
// of the two gets there first: the thumbnail only ever creates, the stamp replaces.
TEST(WriteNewFile, AStampWrittenMeanwhileAlwaysWins) {
  TempFolder dir;
  Bytes stamp = bytes_of("stamp");
  Bytes thumbnail = bytes_of("thumbnail");
  for (int round = 0; round < 60; ++round) {
    const std::string path = dir.file("race" + std::to_string(round) + ".png");
    std::atomic<bool> go{false};
    std::thread other([&] {
      while (!go) std::this_thread::yield();
      write_whole_file(path.c_str(), stamp.block());
    });
    go = true;
    write_new_file(path.c_str(), thumbnail.block());
    other.join();
    ASSERT_EQ(contents(read_whole_file(path.c_str())), "stamp") << "round " << round;
  }
}

}  // namespace
