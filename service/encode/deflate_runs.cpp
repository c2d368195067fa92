// Run-length deflate; see deflate_runs.h.
#include "encode/deflate_runs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tambrel {
namespace {

constexpr int kLitLenSymbols = 286;  // 0-255 bytes, 256 end of block, 257-285 lengths
constexpr int kDistSymbols = 30;
constexpr int kCodeLenSymbols = 19;
constexpr int kMaxBits = 15;
constexpr int kMaxCodeLenBits = 7;
constexpr int kMinRun = 3, kMaxRun = 258;
constexpr size_t kStoredMax = 65535;
// Symbols per block. A quarter of this (zlib's choice at memory level 8) kept each block's codes
// closer to the band of picture they describe, but a seal's bands differ little: the larger
// blocks make PNGs between 0.25 % smaller and 1.4 % larger (0.2 % over the catalogue), and an
// aged seal, one symbol per pixel, builds a quarter as many codes, which was a fifth of its time.
constexpr size_t kBlockSymbols = 65535;

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint8_t, kCodeLenSymbols> kCodeLenOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                 11, 4,  12, 3, 13, 2, 14, 1, 15};

// Run length (3..258) to its length code's index (0..28).
constexpr std::array<uint8_t, kMaxRun + 1> kLengthIndex = [] {
  std::array<uint8_t, kMaxRun + 1> t{};
  for (size_t i = 0; i + 1 < kLengthBase.size(); ++i)
    for (int len = kLengthBase[i]; len < kLengthBase[i] + (1 << kLengthExtra[i]) && len < kMaxRun; ++len)
      t[static_cast<size_t>(len)] = static_cast<uint8_t>(i);
  t[kMaxRun] = 28;  // 258 has a code of its own
  return t;
}();

struct Code {
  std::array<uint8_t, kLitLenSymbols> litLen{};
  std::array<uint16_t, kLitLenSymbols> litCode{};
  std::array<uint8_t, kDistSymbols> distLen{};
  std::array<uint16_t, kDistSymbols> distCode{};
};

uint16_t reverseBits(unsigned code, int bits) {
  unsigned r = 0;
  for (int i = 0; i < bits; ++i, code >>= 1) r = (r << 1) | (code & 1);
  return static_cast<uint16_t>(r);
}

// Canonical codes for the lengths, bit-reversed because deflate sends codes from their top bit
// while everything else goes out from the bottom.
template <size_t N>
void canonicalCodes(const std::array<uint8_t, N>& lens, std::array<uint16_t, N>& codes) {
  int count[kMaxBits + 1] = {};
  for (uint8_t l : lens) ++count[l];
  count[0] = 0;
  unsigned next[kMaxBits + 1] = {};
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + static_cast<unsigned>(count[bits - 1])) << 1;
    next[bits] = code;
  }
  for (size_t i = 0; i < N; ++i)
    codes[i] = lens[i] ? reverseBits(next[lens[i]]++, lens[i]) : 0;
}

// Huffman code lengths of at most maxBits for the frequencies; the code is always complete, so
// an alphabet with fewer than two symbols in use gets two one-bit codes (decoders refuse a code
// that leaves bit patterns unused, bar special cases this avoids).
template <size_t N>
void huffmanLengths(const std::array<uint32_t, N>& freq, int maxBits, std::array<uint8_t, N>& lens) {
  lens.fill(0);
  // Sorted by frequency, then symbol, through one key each.
  std::array<uint64_t, N> keys;
  size_t m = 0;
  for (size_t i = 0; i < N; ++i)
    if (freq[i]) keys[m++] = static_cast<uint64_t>(freq[i]) << 16 | i;
  if (m < 2) {
    const size_t a = m ? static_cast<size_t>(keys[0] & 0xffff) : 0;
    lens[a] = 1;
    lens[a == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(m));
  std::array<uint16_t, N> syms;
  for (size_t i = 0; i < m; ++i) syms[i] = static_cast<uint16_t>(keys[i] & 0xffff);

  // Two-queue construction: leaves in ascending weight, then the inner nodes, which are made in
  // ascending weight too; each node's parent is made after it, so depths follow in one pass down.
  std::array<uint32_t, 2 * N> weight;
  std::array<uint16_t, 2 * N> parent;
  for (size_t i = 0; i < m; ++i) weight[i] = freq[syms[i]];
  size_t leaf = 0, inner = m;
  for (size_t node = m; node < 2 * m - 1; ++node) {
    // The inner queue is [inner, node); it is never empty when the leaves are used up.
    auto take = [&] { return leaf < m && (inner == node || weight[leaf] <= weight[inner]) ? leaf++ : inner++; };
    const size_t a = take();
    const size_t b = take();
    weight[node] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<uint16_t>(node);
  }
  std::array<uint16_t, 2 * N> depth;
  depth[2 * m - 2] = 0;
  int count[2 * N + 1] = {};
  int deepest = 0;
  for (size_t i = 2 * m - 2; i-- > 0;) {
    depth[i] = static_cast<uint16_t>(depth[parent[i]] + 1);
    if (i < m) {
      ++count[depth[i]];
      deepest = std::max<int>(deepest, depth[i]);
    }
  }

  if (deepest > maxBits) {
    // Fold the deep leaves up to maxBits, then restore the Kraft sum: each step moves a leaf
    // from the deepest level down from a shallower one, which lowers the sum by one unit.
    for (int d = maxBits + 1; d <= deepest; ++d) count[maxBits] += count[d], count[d] = 0;
    uint64_t kraft = 0;
    for (int d = 1; d <= maxBits; ++d) kraft += static_cast<uint64_t>(count[d]) << (maxBits - d);
    while (kraft > (uint64_t{1} << maxBits)) {
      --count[maxBits];
      for (int d = maxBits - 1; d > 0; --d) {
        if (count[d]) {
          --count[d];
          count[d + 1] += 2;
          break;
        }
      }
      --kraft;
    }
    deepest = maxBits;
  }
  // The least frequent symbols take the longest codes.
  size_t next = 0;
  for (int d = deepest; d >= 1; --d)
    for (int k = 0; k < count[d]; ++k) lens[syms[next++]] = static_cast<uint8_t>(d);
}

// Bits go into a 64-bit buffer, least significant first, and out eight bytes at a time: after
// each symbol the whole bytes are stored and the rest kept, with no branch. The output needs
// eight bytes of room beyond the stream's end for the last store.
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}
  // At most 56 bits between flushes.
  void put(uint64_t bits, int count) {
    buf_ |= bits << used_;
    used_ += count;
  }
  void flush() {
    uint64_t le = buf_;
    if constexpr (std::endian::native == std::endian::big) le = byteswap64(le);
    std::memcpy(out_, &le, 8);
    out_ += used_ >> 3;
    buf_ >>= used_ & ~7;
    used_ &= 7;
  }
  // Pads to a byte boundary and writes out every whole byte.
  void alignToByte() {
    flush();
    if (used_) *out_++ = static_cast<uint8_t>(buf_);
    buf_ = 0, used_ = 0;
  }
  void bytes(const uint8_t* data, size_t size) {
    std::memcpy(out_, data, size);
    out_ += size;
  }
  uint8_t* end() const { return out_; }

 private:
  static uint64_t byteswap64(uint64_t v) {
    uint64_t r = 0;
    for (int i = 0; i < 8; ++i, v >>= 8) r = (r << 8) | (v & 0xff);
    return r;
  }
  uint8_t* out_;
  uint64_t buf_ = 0;
  int used_ = 0;
};

// Bytes from p equal to c, at most `limit`.
size_t runOf(const uint8_t* p, uint8_t c, size_t limit) {
  const uint64_t pattern = 0x0101010101010101ull * c;
  size_t n = 0;
  for (; n + 8 <= limit; n += 8) {
    uint64_t v;
    std::memcpy(&v, p + n, 8);
    if (const uint64_t diff = v ^ pattern) {
      if constexpr (std::endian::native == std::endian::little) return n + (std::countr_zero(diff) >> 3);
      else return n + (std::countl_zero(diff) >> 3);
    }
  }
  while (n < limit && p[n] == c) ++n;
  return n;
}

struct Block {
  const uint8_t* data;  // the bytes the symbols stand for, for a stored block
  size_t size;
  const uint16_t* symbols;  // a byte, or 256 + run length - 3
  size_t count;
  std::array<uint32_t, kLitLenSymbols> litFreq;  // end of block included
  uint32_t runs;
};

uint64_t extraBits(const Block& b) {
  uint64_t bits = 0;
  for (size_t i = 0; i < kLengthExtra.size(); ++i) bits += static_cast<uint64_t>(b.litFreq[257 + i]) * kLengthExtra[i];
  return bits;
}

// Every symbol with its code, and for a run its extra bits and the distance code too, as one
// string of bits: the symbol loop is then a table look-up and one store.
void putSymbols(BitWriter& w, const Block& b, const Code& c) {
  struct Entry {
    uint64_t bits;
    int count;
  };
  thread_local std::array<Entry, 512> table;
  for (unsigned s = 0; s < 256; ++s) table[s] = {c.litCode[s], c.litLen[s]};
  for (unsigned len = kMinRun; len <= kMaxRun; ++len) {
    const unsigned idx = kLengthIndex[len];
    const int codeLen = c.litLen[257 + idx], extra = kLengthExtra[idx];
    uint64_t bits = c.litCode[257 + idx];
    bits |= static_cast<uint64_t>(len - kLengthBase[idx]) << codeLen;
    bits |= static_cast<uint64_t>(c.distCode[0]) << (codeLen + extra);  // distance 1
    table[256 + len - kMinRun] = {bits, codeLen + extra + c.distLen[0]};
  }
  // The writer is worked on as a copy whose address never leaves here: the output bytes could
  // otherwise alias the writer, and its state would go through memory at every symbol. Two
  // symbols go in per store: no entry is longer than 21 bits (a 15-bit length code, 5 extra
  // bits and the one-bit code of the only distance; the fixed code's are shorter), so two fit
  // beside the seven bits a store may leave.
  BitWriter local = w;
  const Entry* t = table.data();
  size_t i = 0;
  for (; i + 2 <= b.count; i += 2) {
    const Entry& e0 = t[b.symbols[i]];
    const Entry& e1 = t[b.symbols[i + 1]];
    local.put(e0.bits | e1.bits << e0.count, e0.count + e1.count);
    local.flush();
  }
  for (; i < b.count; ++i) {
    local.put(t[b.symbols[i]].bits, t[b.symbols[i]].count);
    local.flush();
  }
  local.put(c.litCode[256], c.litLen[256]);
  local.flush();
  w = local;
}

const Code& fixedCode() {
  static const Code code = [] {
    Code c;
    // The fixed code is defined over 288 symbols; the two never sent still take their places.
    std::array<uint8_t, 288> lens;
    std::array<uint16_t, 288> codes;
    for (size_t i = 0; i < lens.size(); ++i) lens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    canonicalCodes(lens, codes);
    std::copy_n(lens.begin(), kLitLenSymbols, c.litLen.begin());
    std::copy_n(codes.begin(), kLitLenSymbols, c.litCode.begin());
    c.distLen.fill(5);
    canonicalCodes(c.distLen, c.distCode);
    return c;
  }();
  return code;
}

// A block's own codes, ready to write: the code lengths, run-length coded as deflate's header
// sends them, and their cost in bits.
struct DynamicHeader {
  Code code;
  int hlit = 0, hdist = 0, hclen = 0;
  std::array<uint8_t, kCodeLenSymbols> clLen{};
  std::array<uint16_t, kCodeLenSymbols> clCode{};
  std::array<uint8_t, kLitLenSymbols + kDistSymbols> items{};  // code-length symbols
  std::array<uint8_t, kLitLenSymbols + kDistSymbols> itemExtra{};
  size_t itemCount = 0;
  uint64_t bits = 0;  // header and symbols, end of block included
};

void buildDynamic(const Block& b, DynamicHeader& h) {
  huffmanLengths(b.litFreq, kMaxBits, h.code.litLen);
  std::array<uint32_t, kDistSymbols> distFreq{};
  distFreq[0] = b.runs;
  huffmanLengths(distFreq, kMaxBits, h.code.distLen);
  canonicalCodes(h.code.litLen, h.code.litCode);
  canonicalCodes(h.code.distLen, h.code.distCode);

  h.hlit = kLitLenSymbols;
  while (h.hlit > 257 && h.code.litLen[static_cast<size_t>(h.hlit - 1)] == 0) --h.hlit;
  h.hdist = kDistSymbols;
  while (h.hdist > 1 && h.code.distLen[static_cast<size_t>(h.hdist - 1)] == 0) --h.hdist;
  std::array<uint8_t, kLitLenSymbols + kDistSymbols> lens;
  std::copy_n(h.code.litLen.begin(), h.hlit, lens.begin());
  std::copy_n(h.code.distLen.begin(), h.hdist, lens.begin() + h.hlit);
  const size_t n = static_cast<size_t>(h.hlit + h.hdist);

  std::array<uint32_t, kCodeLenSymbols> clFreq{};
  h.itemCount = 0;
  auto item = [&](uint8_t sym, uint8_t extra) {
    h.items[h.itemCount] = sym, h.itemExtra[h.itemCount] = extra, ++h.itemCount;
    ++clFreq[sym];
  };
  for (size_t i = 0; i < n;) {
    const uint8_t v = lens[i];
    size_t run = 1;
    while (i + run < n && lens[i + run] == v) ++run;
    i += run;
    if (v == 0) {
      for (; run >= 11; run -= std::min<size_t>(run, 138)) item(18, static_cast<uint8_t>(std::min<size_t>(run, 138) - 11));
      if (run >= 3) item(17, static_cast<uint8_t>(run - 3)), run = 0;
    } else {
      item(v, 0), --run;
      for (; run >= 3; run -= std::min<size_t>(run, 6)) item(16, static_cast<uint8_t>(std::min<size_t>(run, 6) - 3));
    }
    for (; run > 0; --run) item(v, 0);
  }
  huffmanLengths(clFreq, kMaxCodeLenBits, h.clLen);
  canonicalCodes(h.clLen, h.clCode);
  h.hclen = kCodeLenSymbols;
  while (h.hclen > 4 && h.clLen[kCodeLenOrder[static_cast<size_t>(h.hclen - 1)]] == 0) --h.hclen;

  uint64_t bits = 3 + 5 + 5 + 4 + 3 * static_cast<uint64_t>(h.hclen);
  for (int s = 0; s < kCodeLenSymbols; ++s) bits += static_cast<uint64_t>(clFreq[static_cast<size_t>(s)]) * h.clLen[static_cast<size_t>(s)];
  bits += 2ull * clFreq[16] + 3ull * clFreq[17] + 7ull * clFreq[18];
  for (size_t s = 0; s < kLitLenSymbols; ++s) bits += static_cast<uint64_t>(b.litFreq[s]) * h.code.litLen[s];
  bits += static_cast<uint64_t>(b.runs) * h.code.distLen[0] + extraBits(b);
  h.bits = bits;
}

uint64_t fixedBits(const Block& b) {
  const Code& c = fixedCode();
  uint64_t bits = 3;
  for (size_t s = 0; s < kLitLenSymbols; ++s) bits += static_cast<uint64_t>(b.litFreq[s]) * c.litLen[s];
  return bits + static_cast<uint64_t>(b.runs) * 5 + extraBits(b);
}

// Stored: per piece of up to 64 KB a header, padding to a byte (up to seven bits, counted in
// full) and four bytes of length.
uint64_t storedBits(const Block& b) {
  const size_t pieces = std::max<size_t>(1, (b.size + kStoredMax - 1) / kStoredMax);
  return 8 * (static_cast<uint64_t>(b.size) + 5 * pieces) + 7;
}

void writeBlock(BitWriter& w, const Block& b, bool last) {
  thread_local DynamicHeader h;
  buildDynamic(b, h);
  const uint64_t fixed = fixedBits(b), stored = storedBits(b);
  if (stored < h.bits && stored < fixed) {
    size_t done = 0;
    do {
      const size_t piece = std::min(kStoredMax, b.size - done);
      const bool final = last && done + piece == b.size;
      w.put(final ? 1 : 0, 3);  // stored
      w.alignToByte();
      const uint8_t header[4] = {static_cast<uint8_t>(piece), static_cast<uint8_t>(piece >> 8),
                                 static_cast<uint8_t>(~piece), static_cast<uint8_t>(~piece >> 8)};
      w.bytes(header, 4);
      w.bytes(b.data + done, piece);
      done += piece;
    } while (done < b.size);
  } else if (fixed <= h.bits) {
    w.put(last ? 1u : 0u, 1);
    w.put(1, 2);
    putSymbols(w, b, fixedCode());
  } else {
    w.put(last ? 1 : 0, 1);
    w.put(2, 2);
    w.put(static_cast<uint32_t>(h.hlit - 257), 5);
    w.put(static_cast<uint32_t>(h.hdist - 1), 5);
    w.put(static_cast<uint32_t>(h.hclen - 4), 4);
    w.flush();
    for (int i = 0; i < h.hclen; ++i) {
      w.put(h.clLen[kCodeLenOrder[static_cast<size_t>(i)]], 3);
      w.flush();
    }
    for (size_t i = 0; i < h.itemCount; ++i) {
      const uint8_t s = h.items[i];
      w.put(h.clCode[s], h.clLen[s]);
      if (s >= 16) w.put(h.itemExtra[i], s == 16 ? 2 : s == 17 ? 3 : 7);
      w.flush();
    }
    putSymbols(w, b, h.code);
  }
}

}  // namespace

size_t deflateRunsBound(size_t size) {
  // Every block costs at most its stored form (five bytes a 64 KB piece, one of padding); a block
  // holds at least kBlockSymbols bytes unless it is the last. Four spare bytes for the writer.
  const size_t blocks = size / kBlockSymbols + 1;
  return size + 6 * blocks + 5 * (size / kStoredMax + blocks) + 8;
}

size_t deflateRuns(const uint8_t* data, size_t size, uint8_t* out) {
  BitWriter w(out);
  thread_local std::vector<uint16_t> symbols(kBlockSymbols);
  size_t i = 0;
  do {
    Block b{};
    b.data = data + i;
    b.symbols = symbols.data();
    uint16_t* sym = symbols.data();
    size_t count = 0;
    // A run continues the byte before it, as far as the look-ahead allows; zlib's run-length
    // matching parses the same way, so the two agree symbol for symbol.
    while (i < size && count < kBlockSymbols) {
      // Sixteen bytes at a time while none of them starts a run: a run starts where a byte and
      // the two after it equal the byte before, so three equal neighbours in a row mark one.
      // Ink noise makes long stretches of such literals, and testing them byte by byte was
      // mostly mispredicted branches.
#if defined(__SSE2__)
      if (i > 0 && size - i >= 16 && kBlockSymbols - count >= 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i - 1));
        const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, before)));
        const unsigned starts = same & (same >> 1) & (same >> 2) & 0x3fffu;  // known for 14 bytes
        const unsigned literals = starts ? static_cast<unsigned>(std::countr_zero(starts)) : 14u;
        if (literals) {
          const __m128i zero = _mm_setzero_si128();
          _mm_storeu_si128(reinterpret_cast<__m128i*>(sym + count), _mm_unpacklo_epi8(here, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(sym + count + 8), _mm_unpackhi_epi8(here, zero));
          count += literals;
          i += literals;
          continue;
        }
      }
#endif
      const uint8_t c = data[i];
      uint32_t four;  // the byte before and the three a run needs
      if (i > 0 && size - i >= kMinRun && (std::memcpy(&four, data + i - 1, 4), four == 0x01010101u * c)) {
        const size_t len = kMinRun + runOf(data + i + kMinRun, c, std::min<size_t>(kMaxRun, size - i) - kMinRun);
        sym[count++] = static_cast<uint16_t>(256 + len - kMinRun);
        i += len;
      } else {
        sym[count++] = c;
        ++i;
      }
    }
    // Counted apart from the parse, into four tables in turn: neighbouring pixels often share a
    // level, and counting into one table makes each count wait for the one before.
    uint32_t counts[4][512] = {};
    size_t k = 0;
    for (; k + 4 <= count; k += 4) {
      ++counts[0][sym[k]], ++counts[1][sym[k + 1]];
      ++counts[2][sym[k + 2]], ++counts[3][sym[k + 3]];
    }
    for (; k < count; ++k) ++counts[0][sym[k]];
    uint32_t runs = 0;
    for (int v = 0; v < 512; ++v) {
      const uint32_t n = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
      if (v < 256) {
        b.litFreq[static_cast<size_t>(v)] = n;
      } else if (v - 256 + kMinRun <= kMaxRun) {
        b.litFreq[257 + kLengthIndex[static_cast<size_t>(v - 256 + kMinRun)]] += n;
        runs += n;
      }
    }
    b.litFreq[256] = 1;
    b.count = count;
    b.runs = runs;
    b.size = static_cast<size_t>(data + i - b.data);
    writeBlock(w, b, i >= size);
  } while (i < size);
  w.alignToByte();
  return static_cast<size_t>(w.end() - out);
}

}  // namespace tambrel
