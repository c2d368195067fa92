#include "picture/memory_stream.h"

#include <algorithm>
#include <cstring>

#include "picture/gdiplus_api.h"

TAMBREL_SYS("kernel32", GlobalAlloc)
TAMBREL_SYS("kernel32", GlobalLock)
TAMBREL_SYS("kernel32", GlobalUnlock)
TAMBREL_SYS("kernel32", GlobalFree)
TAMBREL_SYS("kernel32", GlobalSize)

namespace tambrel {
namespace {

// Movable and zero-initialised, so a stream can grow the block with GlobalReAlloc.
constexpr UINT kStreamMemoryFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;  // 0x42

}  // namespace

MemoryStream& MemoryStream::operator=(MemoryStream&& o) noexcept {
  if (this != &o) {
    Close();
    memory_ = std::exchange(o.memory_, nullptr);
    locked_ = std::exchange(o.locked_, nullptr);
    stream_ = std::exchange(o.stream_, nullptr);
  }
  return *this;
}

IStream* MemoryStream::OpenFromBytes(const BytesBlock* bytes, std::optional<int64_t> count) {
  Close();
  // A negative length field is a damaged block: it holds nothing that could be copied (and
  // the clamp below needs a range whose top is not below its bottom).
  const int64_t length = bytes ? std::max<int64_t>(bytes->length, 0) : 0;
  // Never copy more than the block holds, whatever the caller asked for.
  const int64_t n = std::clamp<int64_t>(count.value_or(length), 0, length);
  memory_ = sys::GlobalAlloc(kStreamMemoryFlags, static_cast<SIZE_T>(n));
  if (!memory_) return nullptr;
  if (FAILED(CreateStreamOnHGlobal(memory_, TRUE, &stream_))) {
    stream_ = nullptr;
    sys::GlobalFree(std::exchange(memory_, nullptr));
    return nullptr;
  }
  if (n > 0) {
    locked_ = sys::GlobalLock(memory_);
    // A stream of zeros in place of the picture would decode as garbage or not at all, far
    // from here: a block that cannot be filled is a failed open.
    if (!locked_) {
      Close();
      return nullptr;
    }
    std::memcpy(locked_, bytes->data(), static_cast<size_t>(n));
    sys::GlobalUnlock(memory_);
  }
  return stream_;
}

void MemoryStream::Close() {
  // The block belongs to the stream; freeing it here would pull it from under GDI+ when GDI+
  // still holds a reference of its own.
  if (stream_) std::exchange(stream_, nullptr)->Release();
  memory_ = nullptr;
  locked_ = nullptr;
}

size_t MemoryStream::GetSize() const { return memory_ ? sys::GlobalSize(memory_) : 0; }

bool MemoryStream::Attach(IStream* stream) {
  Close();
  if (!stream) return false;
  stream_ = stream;
  HGLOBAL memory = nullptr;
  if (FAILED(GetHGlobalFromStream(stream, &memory)) || !memory) return false;
  memory_ = memory;
  return true;
}

Bytes MemoryStream::ReadAllBytes() {
  if (!memory_) return {};
  size_t n = GetSize();
  // A block may be larger than what was written to it; the stream knows the real end.
  STATSTG stat{};
  if (stream_ && SUCCEEDED(stream_->Stat(&stat, STATFLAG_NONAME)))
    n = std::min<size_t>(n, static_cast<size_t>(stat.cbSize.QuadPart));
  if (n == 0) return {};
  locked_ = sys::GlobalLock(memory_);
  if (!locked_) return {};
  Bytes out(locked_, n);
  sys::GlobalUnlock(memory_);
  return out;
}

}  // namespace tambrel
