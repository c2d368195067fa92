// The run-length deflate encoder, checked by zlib's inflate: every stream must inflate to exactly
// its input with nothing left over, whatever the bytes; on real seals it must stay as small as
// zlib's own run-length compression, which it replaced.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "draw/render.h"
#include "encode/deflate_runs.h"
#include "test_support.h"
#include "text/text.h"

namespace tambrel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes deflated(const Bytes& in) {
  Bytes out(deflateRunsBound(in.size()));
  out.resize(deflateRuns(in.data(), in.size(), out.data()));
  return out;
}

testing::AssertionResult inflatesTo(const Bytes& stream, const Bytes& expected) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return testing::AssertionFailure() << "inflateInit2";
  Bytes out(expected.size() + 16);
  z.next_in = const_cast<uint8_t*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const std::string msg = z.msg ? z.msg : "";
  const size_t produced = z.total_out, left = z.avail_in;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return testing::AssertionFailure() << "inflate " << rc << " " << msg;
  if (left) return testing::AssertionFailure() << left << " bytes after the final block";
  if (produced != expected.size()) return testing::AssertionFailure() << produced << " bytes, not " << expected.size();
  for (size_t i = 0; i < produced; ++i)
    if (out[i] != expected[i]) return testing::AssertionFailure() << "byte " << i << " differs";
  return testing::AssertionSuccess();
}

Bytes runs(std::initializer_list<std::pair<uint8_t, size_t>> parts) {
  Bytes b;
  for (auto [value, count] : parts) b.insert(b.end(), count, value);
  return b;
}

Bytes randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

// Runs of random length (1..600) of 0, 255 or a random byte: many blocks, runs that cross block
// ends, literals between them.
Bytes coverageLike(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) {
    const unsigned kind = rng() % 3;
    const uint8_t v = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<uint8_t>(rng());
    b.insert(b.end(), 1 + rng() % (kind == 2 ? 4 : 600), v);
  }
  b.resize(n);
  return b;
}

// Byte k occurs fib(k) times and never twice in a row, so every byte is a literal, all in one
// block: an optimal Huffman code for these counts is 18 bits deep, past deflate's 15-bit limit.
Bytes fibonacciLiterals() {
  std::vector<size_t> count = {1, 1};
  while (count.size() < 19) count.push_back(count[count.size() - 1] + count[count.size() - 2]);
  Bytes sorted;
  for (size_t k = 0; k < count.size(); ++k) sorted.insert(sorted.end(), count[k], static_cast<uint8_t>(k * 11));
  // Most frequent first into the even places, the rest into the odd: no two neighbours equal as
  // long as no byte has more than half the places.
  std::reverse(sorted.begin(), sorted.end());
  Bytes b(sorted.size());
  size_t at = 0;
  for (uint8_t v : sorted) {
    b[at] = v;
    at += 2;
    if (at >= b.size()) at = 1;
  }
  return b;
}

TEST(DeflateRuns, EveryStreamInflatesToItsInput) {
  const struct {
    const char* name;
    Bytes data;
  } cases[] = {
      {"empty", {}},
      {"one byte", {7}},
      {"two bytes", {7, 7}},
      {"shortest run", {5, 5, 5, 5}},
      {"longest run and one more", runs({{9, 1}, {9, 258}, {9, 1}, {1, 1}})},
      {"runs either side of the longest", runs({{0, 1}, {0, 257}, {3, 1}, {3, 259}, {4, 517}})},
      {"a megabyte of nothing", Bytes(1u << 20, 0)},
      {"alternating ink and paper", [] {
         Bytes b(5000);
         for (size_t i = 0; i < b.size(); ++i) b[i] = i % 2 ? 255 : 0;
         return b;
       }()},
      {"noise, stored", randomBytes(100000, 1)},
      {"noise of one byte", randomBytes(1, 2)},
      {"coverage-like, many blocks", coverageLike(600000, 3)},
      {"coverage-like, short", coverageLike(3000, 4)},
      {"skewed literals", fibonacciLiterals()},
  };
  for (const auto& c : cases) {
    const Bytes stream = deflated(c.data);
    EXPECT_LE(stream.size(), deflateRunsBound(c.data.size())) << c.name;
    EXPECT_TRUE(inflatesTo(stream, c.data)) << c.name;
  }
  // Noise is stored, not inflated by codes: at most five bytes per 64 KB piece over its size,
  // plus a few per block.
  EXPECT_LE(deflated(randomBytes(100000, 1)).size(), 100000u + 7 * 8);
  // The skewed counts are coded (fixed codes would take 8 or 9 bits a byte): so their code was
  // limited to 15 bits and still decodes.
  const Bytes skewed = fibonacciLiterals();
  EXPECT_LT(deflated(skewed).size(), skewed.size() / 2);
}

// Random mixtures of runs and literals, each its own seed: a small property test of the parse,
// the block ends and the three block kinds.
TEST(DeflateRuns, RandomMixturesRoundTrip) {
  for (uint32_t seed = 10; seed < 60; ++seed) {
    std::mt19937 rng(seed);
    const size_t n = rng() % 70000;
    Bytes b = coverageLike(n, seed);
    // Sprinkle noise over part of it so some blocks are stored or fixed.
    for (size_t i = 0; i < n / 3; ++i) b[rng() % std::max<size_t>(n, 1)] = static_cast<uint8_t>(rng());
    EXPECT_TRUE(inflatesTo(deflated(b), b)) << "seed " << seed << ", " << n << " bytes";
  }
}

// Every template's seal as the PNG rows are compressed (a filter byte, then the row): no bigger
// than zlib's level 1 with run-length matching, beyond 1% and a few bytes.
TEST(DeflateRuns, CatalogueSealsAsSmallAsZlibRunLength) {
  using testing_support::fonts;
  size_t ours = 0, zlibs = 0;
  for (const Template& t : Catalog::builtIn().all()) {
    const Raster r = renderStamp(fonts(), t.style, *text::decodeUtf8(t.style.sample), 300);
    Bytes rows;
    for (int y = 0; y < r.height; ++y) {
      rows.push_back(0);
      rows.insert(rows.end(), r.alpha.begin() + static_cast<std::ptrdiff_t>(y) * r.stride,
                  r.alpha.begin() + static_cast<std::ptrdiff_t>(y) * r.stride + r.width);
    }
    const Bytes stream = deflated(rows);
    ASSERT_TRUE(inflatesTo(stream, rows)) << "template " << t.id;

    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_RLE), Z_OK);
    Bytes out(deflateBound(&z, static_cast<uLong>(rows.size())));
    z.next_in = rows.data();
    z.avail_in = static_cast<uInt>(rows.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    const size_t zlibSize = z.total_out;
    deflateEnd(&z);
    EXPECT_LE(stream.size(), zlibSize + zlibSize / 100 + 8) << "template " << t.id;
    ours += stream.size(), zlibs += zlibSize;
  }
  std::printf("catalogue at 300 px: %zu bytes against zlib's %zu\n", ours, zlibs);
}

}  // namespace
}  // namespace tambrel
