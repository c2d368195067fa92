// A deflate encoder for coverage rasters: every match is a run of the byte before it (distance
// one), each block gets its own Huffman codes. On a seal's rows this is the same parse and
// nearly the same size as zlib's level 1 with run-length matching, in under half the time: the
// run search reads eight bytes at a time, and the bits go out through a 64-bit buffer.
//
// Output is a raw deflate stream (RFC 1951); the caller adds the zlib header and Adler-32.
// Each block is written whichever way is smallest of its own codes, the fixed codes, or stored,
// so any input is encoded in at most its size plus five bytes per 64 KB and a few bytes more.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tambrel {

// Most bytes deflateRuns() writes for `size` input bytes.
size_t deflateRunsBound(size_t size);

// Writes the raw deflate stream of data[0, size) to `out`, which has room for
// deflateRunsBound(size) bytes, the last block marked final; returns the bytes written.
size_t deflateRuns(const uint8_t* data, size_t size, uint8_t* out);

}  // namespace tambrel
