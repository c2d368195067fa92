// Pictures, bitmaps, encoders and memory streams against the real GDI+.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "picture/codecs.h"
#include "picture/memory_stream.h"
#include "picture/picture.h"
#include "tests/picture/picture_fixtures.h"

using namespace tambrel;
using namespace tambrel::test;

namespace {

testing::Environment* const gdiplus_env = testing::AddGlobalTestEnvironment(new GdiPlusEnvironment);

Bytes bytes_of(const char* data, size_t n) { return Bytes(data, n); }

std::string temp_file(const char* name) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + name;
}

TEST(PictureLoad, DecodesEachFormatItsEncoderWrote) {
  struct Case {
    const char* format;
    int width, height;
    Bytes bytes;
  };
  const Case cases[] = {
      {kPngFormat, 37, 21, encoded_picture(kPngFormat, 37, 21, ToArgb(0x0000FF))},
      {kJpegFormat, 16, 40, encoded_picture(kJpegFormat, 16, 40, ToArgb(0x0000FF))},
      {kGifFormat, 9, 7, handmade_gif(9, 7, 255, 0, 0)},
      {kBmpFormat, 3, 5, encoded_picture(kBmpFormat, 3, 5, ToArgb(0x0000FF))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const Bytes& bytes = c.bytes;
    Picture picture;
    ASSERT_TRUE(picture.LoadFromBytes(bytes)) << "status " << LastStatus();
    EXPECT_EQ(picture.GetWidth(), c.width);
    EXPECT_EQ(picture.GetHeight(), c.height);
    EXPECT_EQ(picture.GetRawFormat(), c.format);
    // The encoded bytes stay with the image for its whole life.
    EXPECT_NE(picture.stream().GetStream(), nullptr);
    EXPECT_EQ(picture.stream().GetSize(), bytes.size());
  }
}

TEST(PictureLoad, GifPixelsDecode) {
  BitmapPicture gif;
  ASSERT_TRUE(gif.LoadFromBytes(handmade_gif(4, 3, 0x12, 0x34, 0x56)));
  EXPECT_EQ(gif.GetPixel(3, 2) & 0xFFFFFF, 0x123456u);
}

TEST(PictureLoad, EmptyOrCorruptBytesFailAndLeaveThePictureEmpty) {
  const Bytes png = encoded_picture(kPngFormat, 8, 8, ToArgb(0xFFFFFF));
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const Case cases[] = {
      {"empty block", Bytes()},
      {"garbage", bytes_of("not a picture at all", 20)},
      {"PNG signature only", Bytes(png.data(), 8)},
      {"truncated PNG", Bytes(png.data(), png.size() / 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool held_image_before : {false, true}) {
      Picture picture;
      if (held_image_before) {
        ASSERT_TRUE(picture.LoadFromBytes(png));
      }
      EXPECT_FALSE(picture.LoadFromBytes(c.bytes));
      EXPECT_NE(LastStatus(), Gdiplus::Ok);
      EXPECT_EQ(picture.image(), nullptr);
      EXPECT_EQ(picture.GetNativeHandle(), nullptr);
      EXPECT_EQ(picture.GetWidth(), 0);
      EXPECT_EQ(picture.GetHeight(), 0);
      EXPECT_EQ(picture.stream().GetStream(), nullptr) << "an empty picture keeps no stream";
      EXPECT_FALSE(picture.Dispose());
    }
  }
}

TEST(PictureLoad, LoadingAgainReplacesTheImage) {
  Picture picture;
  ASSERT_TRUE(picture.LoadFromBytes(encoded_picture(kPngFormat, 10, 10, ToArgb(0))));
  ASSERT_TRUE(picture.LoadFromBytes(handmade_gif(20, 5, 0, 0, 0)));
  EXPECT_EQ(picture.GetWidth(), 20);
  EXPECT_EQ(picture.GetHeight(), 5);
  EXPECT_EQ(picture.GetRawFormat(), kGifFormat);
}

TEST(PictureDispose, SecondDisposeReturnsFalse) {
  Picture never_loaded;
  EXPECT_FALSE(never_loaded.Dispose());
  EXPECT_EQ(never_loaded.GetWidth(), 0);

  Picture picture;
  ASSERT_TRUE(picture.LoadFromBytes(encoded_picture(kPngFormat, 4, 4, ToArgb(0))));
  EXPECT_TRUE(picture.Dispose());
  EXPECT_EQ(picture.stream().GetStream(), nullptr);
  EXPECT_FALSE(picture.Dispose());
  EXPECT_EQ(picture.GetWidth(), 0);
}

TEST(PictureMove, TheImageAndItsStreamMoveTogether) {
  Picture a;
  ASSERT_TRUE(a.LoadFromBytes(encoded_picture(kPngFormat, 6, 3, ToArgb(0))));
  Picture b(std::move(a));
  EXPECT_EQ(a.image(), nullptr);
  EXPECT_EQ(a.stream().GetStream(), nullptr);
  EXPECT_EQ(b.GetWidth(), 6);
  EXPECT_NE(b.stream().GetStream(), nullptr);
  Picture c;
  ASSERT_TRUE(c.LoadFromBytes(encoded_picture(kPngFormat, 2, 2, ToArgb(0))));
  c = std::move(b);
  EXPECT_EQ(c.GetWidth(), 6);
  EXPECT_FALSE(b.Dispose());
}

TEST(PictureClone, CloneOutlivesItsSource) {
  Picture clone;
  {
    Picture source;
    ASSERT_TRUE(source.LoadFromBytes(encoded_picture(kPngFormat, 12, 7, ToArgb(0x00FF00))));
    ASSERT_TRUE(source.CloneTo(clone));
  }
  EXPECT_EQ(clone.GetWidth(), 12);
  const Bytes again = clone.SaveToBytes(kPngFormat);
  Picture reloaded;
  ASSERT_TRUE(reloaded.LoadFromBytes(again));
  EXPECT_EQ(reloaded.GetHeight(), 7);
}

TEST(BitmapPictureCreate, PixelFormatDefaultsToArgb) {
  struct Case {
    std::optional<Gdiplus::PixelFormat> format;
    int expected;
  };
  const Case cases[] = {{std::nullopt, 0x26200A}, {0x22009, 0x22009}};
  for (const Case& c : cases) {
    BitmapPicture bitmap;
    ASSERT_TRUE(bitmap.Create(30, 20, c.format));
    EXPECT_EQ(bitmap.GetPixelFormat(), c.expected);
    EXPECT_EQ(bitmap.GetWidth(), 30);
    EXPECT_EQ(bitmap.bitmap(), bitmap.image());
    EXPECT_EQ(bitmap.GetNativeHandle(), bitmap.image());
  }
  BitmapPicture bad;
  EXPECT_FALSE(bad.Create(0, 10));
  EXPECT_EQ(bad.bitmap(), nullptr);
}

TEST(BitmapPicturePixels, SetAndGetPixelAndDecodeIntoABitmap) {
  BitmapPicture bitmap;
  ASSERT_TRUE(bitmap.Create(4, 4));
  ASSERT_TRUE(bitmap.SetPixel(1, 2, 0xFF123456));
  EXPECT_EQ(bitmap.GetPixel(1, 2), 0xFF123456u);

  BitmapPicture decoded;
  ASSERT_TRUE(decoded.LoadFromBytes(bitmap.SaveToBytes(kPngFormat)));
  EXPECT_EQ(decoded.GetPixel(1, 2), 0xFF123456u);
  EXPECT_NE(decoded.stream().GetStream(), nullptr);
  EXPECT_TRUE(decoded.Dispose());
  EXPECT_FALSE(decoded.Dispose());
}

TEST(BitmapPictureRotate, RotatedSizeHoldsTheTurnedRectangle) {
  struct Case {
    int width, height;
    double angle;
    int expected_width, expected_height;
  };
  const Case cases[] = {{40, 20, 0, 40, 20}, {40, 20, 90, 20, 40}, {40, 20, 180, 40, 20}, {11, 11, 45, 16, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.angle);
    int w = 0, h = 0;
    BitmapPicture::GetRotatedSize(c.width, c.height, c.angle, w, h);
    EXPECT_EQ(w, c.expected_width);
    EXPECT_EQ(h, c.expected_height);
  }
  BitmapPicture source, turned;
  ASSERT_TRUE(source.Create(40, 20));
  ASSERT_TRUE(source.Rotated(90, turned, {ToArgb(0xFFFFFF), Gdiplus::InterpolationModeNearestNeighbor}));
  EXPECT_EQ(turned.GetWidth(), 20);
  EXPECT_EQ(turned.GetHeight(), 40);
}

TEST(Encoders, ListHoldsPngAndLookupIsCaseSensitive) {
  RecordArray<ImageCodecRecord> encoders;
  const int count = GetImageEncoders(encoders);
  ASSERT_GT(count, 0);
  ASSERT_EQ(encoders.size(), size_t(count));
  std::string png_clsid;
  for (int i = 1; i <= count; ++i) {
    EXPECT_EQ(encoders[i].Clsid.size(), 38u);
    EXPECT_EQ(encoders[i].SigPattern.size(), size_t(encoders[i].SigCount) * encoders[i].SigSize);
    if (encoders[i].FormatID == kPngFormat) {
      png_clsid = encoders[i].Clsid.c_str();
      EXPECT_EQ(encoders[i].MimeType, "image/png");
    }
  }
  ASSERT_FALSE(png_clsid.empty()) << "no PNG encoder listed";

  struct Case {
    const char* format;
    std::string expected;
  };
  const Case cases[] = {
      {kPngFormat, png_clsid},
      {"{b96b3caf-0728-11d3-9d7b-0000f81ef32e}", ""},  // lower case: no match
      {"image/png", ""},                                // encoders are found by format, never MIME type
      {"", ""},
      {kMemoryBmpFormat, ""},                           // in-memory bitmaps have no encoder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(std::string(FindEncoderClsid(c.format).c_str()), c.expected);
  }
}

TEST(GuidText, RoundTripsAndRejectsNonGuids) {
  const Bytes guid = TextToGuid(kPngFormat);
  ASSERT_EQ(guid.size(), 16u);
  EXPECT_EQ(GuidToText(guid.block()), kPngFormat);
  // Lower-case input is still a GUID; its text comes back upper case.
  EXPECT_EQ(GuidToText(TextToGuid("{b96b3caf-0728-11d3-9d7b-0000f81ef32e}").block()), kPngFormat);
  const Bytes junk = TextToGuid("not a guid");
  ASSERT_EQ(junk.size(), 16u);
  EXPECT_EQ(GuidToText(junk.block()), "{00000000-0000-0000-0000-000000000000}");
}

TEST(PictureSave, SaveToBytesDefaultsToThePicturesOwnFormat) {
  Picture decoded;
  ASSERT_TRUE(decoded.LoadFromBytes(encoded_picture(kPngFormat, 5, 5, ToArgb(0xFF))));
  const Bytes png = decoded.SaveToBytes();
  ASSERT_GE(png.size(), 8u);
  EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0);

  // A bitmap made in memory has a raw format no encoder takes.
  BitmapPicture memory;
  ASSERT_TRUE(memory.Create(5, 5));
  EXPECT_EQ(memory.GetRawFormat(), kMemoryBmpFormat);
  const Bytes nothing = memory.SaveToBytes();
  EXPECT_TRUE(nothing.empty());
  EXPECT_NE(LastStatus(), Gdiplus::Ok);

  Picture empty;
  EXPECT_TRUE(empty.SaveToBytes(kPngFormat).empty());
  EXPECT_EQ(empty.GetRawFormat(), "{00000000-0000-0000-0000-000000000000}");
}

TEST(PictureSave, SaveToFileWithoutFormatWritesBmp) {
  const std::string path = temp_file("tambrel_picture_save.bmp");
  DeleteFileA(path.c_str());
  BitmapPicture bitmap;
  ASSERT_TRUE(bitmap.Create(7, 3));
  ASSERT_TRUE(bitmap.SaveToFile(path.c_str()));

  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char head[2] = {};
  DWORD read = 0;
  ReadFile(file, head, 2, &read, nullptr);
  CloseHandle(file);
  EXPECT_EQ(std::string(head, read), "BM");

  Picture reloaded;
  ASSERT_TRUE(reloaded.LoadFromFile(path.c_str()));
  EXPECT_EQ(reloaded.GetWidth(), 7);
  EXPECT_EQ(reloaded.GetRawFormat(), kBmpFormat);
  EXPECT_TRUE(reloaded.Dispose());
  DeleteFileA(path.c_str());

  EXPECT_FALSE(bitmap.SaveToFile(path.c_str(), "{00000000-0000-0000-0000-000000000001}"));
}

TEST(MemoryStreamTest, CopiesAtMostTheBlockAndReadsBackWhatItHolds) {
  const Bytes source("abcdef", 6);
  struct Case {
    std::optional<int64_t> count;
    std::string expected;
  };
  const Case cases[] = {{std::nullopt, "abcdef"}, {3, "abc"}, {100, "abcdef"}, {-4, ""}, {0, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count.value_or(-999));
    MemoryStream stream;
    ASSERT_NE(stream.OpenFromBytes(source.block(), c.count), nullptr);
    EXPECT_EQ(stream.GetSize(), c.expected.size());
    const Bytes back = stream.ReadAllBytes();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.data()), back.size()), c.expected);
  }
  MemoryStream closed;
  EXPECT_EQ(closed.GetSize(), 0u);
  EXPECT_TRUE(closed.ReadAllBytes().empty());
  closed.Close();  // closing twice is harmless
}

TEST(MemoryStreamTest, ABlockWithANegativeLengthCountsAsEmpty) {
  // A damaged header: the length field says -5 although 6 bytes follow.
  struct {
    BytesBlock header;
    char data[8];
  } damaged{{1, -5}, "abcdef"};
  for (const std::optional<int64_t> count : {std::optional<int64_t>{}, std::optional<int64_t>{3},
                                             std::optional<int64_t>{-1}}) {
    SCOPED_TRACE(count.value_or(-999));
    MemoryStream stream;
    ASSERT_NE(stream.OpenFromBytes(&damaged.header, count), nullptr);
    EXPECT_EQ(stream.GetSize(), 0u);
    EXPECT_TRUE(stream.ReadAllBytes().empty());
  }
}

}  // namespace
