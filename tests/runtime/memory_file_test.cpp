// Memory files and the handle commands: line reading over the line-end forms, the end test,
// handle validation against the open list, and the list under two threads at once.
#include "runtime/memory_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/text.h"

using namespace tambrel;

namespace {

using Lines = std::vector<std::string>;

// Every line read_line returns until at_end_of_file.
Lines read_all_lines(const std::string& content) {
  FileHandle h = open_memory_file();
  EXPECT_TRUE(write_text_to_file(h, content.c_str()));
  EXPECT_TRUE(rewind_file(h));
  Lines lines;
  for (int guard = 0; !at_end_of_file(h) && guard < 100; ++guard) {
    Text line = read_line(h);
    EXPECT_NE(line.get(), nullptr) << "a line is a text, even when empty";
    lines.emplace_back(line.c_str());
  }
  close_file(h);
  return lines;
}

TEST(ReadLine, LineEndForms) {
  struct Case {
    const char* name;
    std::string content;
    Lines expected;
  };
  const Case cases[] = {
      {"CR LF lines", "a\r\nb\r\n", {"a", "b"}},
      {"last line without line end", "a\r\nlast", {"a", "last"}},
      {"empty CR LF line", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"LF only", "a\nb\n", {"a", "b"}},
      {"empty LF line is kept", "a\n\nb\n", {"a", "", "b"}},
      {"two empty LF lines", "a\n\n\nb", {"a", "", "", "b"}},
      {"lone CR", "a\rb", {"a", "b"}},
      {"CR then CR LF", "a\r\r\nb", {"a", "", "b"}},
      {"LF CR is two line ends", "a\n\rb", {"a", "", "b"}},
      {"leading empty line", "\r\nx", {"", "x"}},
      {"GBK text", "状态\r\nSet-Cookie: 名=值\r\n", {"状态", "Set-Cookie: 名=值"}},
      {"nothing", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_all_lines(c.content), c.expected);
  }
}

TEST(ReadLine, LastLineLeavesTheFileAtItsEnd) {
  FileHandle h = open_memory_file();
  write_text_to_file(h, "HTTP/1.1 200 OK\r\nlast");
  rewind_file(h);
  EXPECT_EQ(read_line(h), "HTTP/1.1 200 OK");
  EXPECT_FALSE(at_end_of_file(h));
  EXPECT_EQ(read_line(h), "last");
  EXPECT_TRUE(at_end_of_file(h));
  Text beyond = read_line(h);
  EXPECT_NE(beyond.get(), nullptr);
  EXPECT_EQ(beyond, "");
  close_file(h);
}

TEST(AtEndOfFile, EmptyFileAfterRewindIsAtItsEnd) {
  FileHandle h = open_memory_file();
  EXPECT_TRUE(rewind_file(h));
  EXPECT_TRUE(at_end_of_file(h));
  EXPECT_TRUE(at_end_of_file(h, true));
  write_text_to_file(h, "ab");
  EXPECT_TRUE(at_end_of_file(h)) << "writing leaves the position behind the text";
  rewind_file(h);
  EXPECT_FALSE(at_end_of_file(h, true));
  EXPECT_FALSE(at_end_of_file(h, false));
  close_file(h);
}

TEST(AtEndOfFile, TerminatorFlagLooksAtTheNextByteWithoutMoving) {
  FileHandle h = open_memory_file();
  write_text_to_file(h, "ab\r\x1a\x63");  // "ab" CR 0x1A "c"
  rewind_file(h);
  EXPECT_EQ(read_line(h), "ab");
  EXPECT_FALSE(at_end_of_file(h));
  EXPECT_TRUE(at_end_of_file(h, true)) << "0x1A is an end marker";
  EXPECT_TRUE(at_end_of_file(h, true)) << "looking did not move the position";
  EXPECT_FALSE(at_end_of_file(h, false));
  EXPECT_EQ(read_line(h), "\x1a\x63");
  close_file(h);
}

TEST(WriteTextToFile, ValuesAreWrittenAsTheirTexts) {
  FileHandle h = open_memory_file();
  Bytes block(std::string("blk\0tail", 8).data(), 8);  // a block goes up to its first zero
  EXPECT_TRUE(write_text_to_file(
      h,
      {text_arg("n="), int_arg(42), text_arg(" r="), double_arg(1.5), text_arg(" "), bool_arg(true),
       text_arg(nullptr), make_arg(TYPE_OBJECT), text_arg(" "), bytes_arg(block.block())}));
  rewind_file(h);
  EXPECT_EQ(read_line(h), "n=42 r=1.5 真 blk");
  close_file(h);
}

TEST(Handles, InvalidClosedAndMadeUpHandlesAreRejected) {
  const size_t before = open_file_count();
  FileHandle h = open_memory_file();
  EXPECT_EQ(open_file_count(), before + 1);
  close_file(h);
  EXPECT_EQ(open_file_count(), before);
  close_file(h);  // second close does nothing
  EXPECT_EQ(open_file_count(), before);

  alignas(16) unsigned char fake[64] = {2};  // looks like a record of kind 2, but is not open
  const FileHandle bad[] = {h, nullptr, reinterpret_cast<FileHandle>(fake),
                            reinterpret_cast<FileHandle>(0x1234)};
  for (FileHandle b : bad) {
    EXPECT_FALSE(write_text_to_file(b, "x"));
    EXPECT_FALSE(rewind_file(b));
    EXPECT_TRUE(at_end_of_file(b));
    EXPECT_EQ(read_line(b).get(), nullptr);
    close_file(b);
  }
}

TEST(Handles, ExitHookClosesEverythingStillOpen) {
  FileHandle a = open_memory_file();
  FileHandle b = open_memory_file();
  write_text_to_file(a, "left open");
  close_all_files();
  EXPECT_EQ(open_file_count(), 0u);
  EXPECT_EQ(read_line(a).get(), nullptr);
  EXPECT_TRUE(at_end_of_file(b));
  // The list works again afterwards.
  FileHandle c = open_memory_file();
  EXPECT_TRUE(write_text_to_file(c, "x"));
  close_file(c);
}

TEST(HandlesDeathTest, ExitChainClosesOpenFiles) {
  EXPECT_EXIT(
      {
        FileHandle h = open_memory_file();
        write_text_to_file(h, "open at exit");
        rt_exit(3);
      },
      testing::ExitedWithCode(3), "");
}

TEST(Handles, TwoThreadsOpeningAndClosingAtOnce) {
  // The HTTP routine parses headers through memory files on the main thread and on the update
  // thread at the same time; the open list must survive interleaved opens and closes.
  auto worker = [](char tag, int* mismatches) {
    for (int i = 0; i < 2000; ++i) {
      FileHandle h = open_memory_file();
      const std::string line = std::string(20, tag) + std::to_string(i);
      write_text_to_file(h, (line + "\r\n").c_str());
      rewind_file(h);
      if (read_line(h) != line.c_str()) ++*mismatches;
      close_file(h);
    }
  };
  const size_t before = open_file_count();
  int m1 = 0, m2 = 0;
  std::thread t1(worker, 'a', &m1);
  std::thread t2(worker, 'b', &m2);
  t1.join();
  t2.join();
  EXPECT_EQ(m1, 0);
  EXPECT_EQ(m2, 0);
  EXPECT_EQ(open_file_count(), before);
}

TEST(MemoryFile, SeekOrigins) {
  MemoryFile f;
  ASSERT_EQ(f.write("0123456789", 10), 10u);
  struct Case {
    int64_t from;
    int64_t offset;
    int origin;
    int64_t expected;  // result and new position; -1 leaves the position
  };
  const Case cases[] = {
      {5, 2, 0, 2},  {5, 2, 1, 7},   {5, -2, 2, 8},   {5, -6, 1, -1},
      {5, 0, 3, -1}, {5, 20, 0, 20}, {5, -11, 2, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " origin " << c.origin);
    f.seek(c.from, 0);
    EXPECT_EQ(f.seek(c.offset, c.origin), c.expected);
    EXPECT_EQ(f.position(), c.expected == -1 ? c.from : c.expected);
  }
}

TEST(MemoryFile, WriteBeyondTheSizeZeroFillsTheGap) {
  MemoryFile f(16);
  f.write("ab", 2);
  f.seek(6, 0);
  f.write("z", 1);
  EXPECT_EQ(f.size(), 7);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data()), 7), std::string("ab\0\0\0\0z", 7));
  EXPECT_EQ(f.capacity(), 16u) << "grows in whole steps";
  f.seek(0, 0);
  char out[16] = {};
  EXPECT_EQ(f.read(out, sizeof out), 7u);
  EXPECT_EQ(f.read(out, sizeof out), 0u);
  f.seek(100, 0);
  EXPECT_EQ(f.read(out, 1), 0u) << "position beyond the size";
}

TEST(MemoryFile, SetLengthTakeRangeAndReset) {
  MemoryFile f(4);
  f.write("abcdef", 6);
  EXPECT_EQ(f.capacity(), 8u);
  EXPECT_TRUE(f.set_length(3));
  EXPECT_EQ(f.size(), 3);
  EXPECT_EQ(f.position(), 3) << "pulled back to the new length";
  EXPECT_TRUE(f.set_length(5));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data()), 5), std::string("abc\0\0", 5));

  f.seek(1, 0);
  size_t n = 0;
  const unsigned char* r = f.take_range(&n, 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r), n), "bc");
  EXPECT_EQ(f.position(), 3);
  r = f.take_range(&n);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(f.take_range(&n), nullptr);
  EXPECT_EQ(n, 0u);

  f.reset();
  EXPECT_EQ(f.size(), 0);
  EXPECT_EQ(f.position(), 0);
  EXPECT_EQ(f.capacity(), 0u);
  EXPECT_EQ(f.data(), nullptr);

  MemoryFile fixed(0);  // a growth step of 0 never grows
  EXPECT_EQ(fixed.write("x", 1), 0u);
  EXPECT_FALSE(fixed.set_length(1));
}

}  // namespace
