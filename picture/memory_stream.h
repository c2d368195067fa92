// A COM stream over a movable global memory block, the form in which GDI+ reads encoded
// pictures and writes encoded ones. The object owns one reference to the stream, and the
// stream owns the block: it is created to free the block on its last release. So the bytes
// live as long as anybody holds the stream, including GDI+ itself (a clone of a decoded image
// may keep reading them after its source picture is gone). A picture keeps its stream open
// for the whole life of the image decoded from it, because GDI+ may go back to the encoded
// bytes at any time.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <optional>

#include "runtime/values.h"

namespace tambrel {

class MemoryStream {
 public:
  MemoryStream() = default;
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  MemoryStream(MemoryStream&& o) noexcept { *this = std::move(o); }
  MemoryStream& operator=(MemoryStream&& o) noexcept;
  ~MemoryStream() { Close(); }

  // Closes, then opens a stream over a new block holding the first `count` bytes of `bytes`
  // (all of them when absent; a count beyond the block is cut to its length, a negative one
  // counts as 0; a block with a negative length field counts as empty). Returns the stream, or
  // null when no block or stream could be made or filled.
  IStream* OpenFromBytes(const BytesBlock* bytes, std::optional<int64_t> count = std::nullopt);
  // Releases this object's reference (the block goes with the last one); safe when closed.
  void Close();
  // GlobalSize of the block (0 when closed).
  size_t GetSize() const;
  IStream* GetStream() const { return stream_; }
  HGLOBAL GetMemory() const { return memory_; }
  // Closes, then takes over the caller's reference to `stream` and the block behind it. The
  // stream should free its block on release (CreateStreamOnHGlobal with TRUE), as the
  // streams this class makes do. True when a block was found.
  bool Attach(IStream* stream);
  // A copy of the stream's content: the bytes written to it, or the whole block when there
  // is no stream. Empty when closed.
  Bytes ReadAllBytes();

 private:
  HGLOBAL memory_ = nullptr;
  void* locked_ = nullptr;  // address from the last GlobalLock, for inspection only
  IStream* stream_ = nullptr;
};

}  // namespace tambrel
