// A growable byte buffer for collecting element pointers. Small buffers come from a
// process-wide pool of 96 blocks of 512 bytes so that splitting short texts touches the heap
// once (for the result) instead of for every growth step. Blocks are claimed with an atomic
// exchange per flag, so two threads may split at the same time.
#pragma once

#include <cstddef>

namespace tambrel {

class GrowBuffer {
 public:
  static constexpr size_t kPoolBlocks = 96;
  static constexpr size_t kPoolBlockSize = 512;

  GrowBuffer() = default;
  GrowBuffer(const GrowBuffer&) = delete;
  GrowBuffer& operator=(const GrowBuffer&) = delete;
  ~GrowBuffer() { release(); }

  // Makes room for n bytes in all (0 releases the block). False if the heap refused.
  bool reserve(size_t n);
  bool append_pointer(void* p);
  void release();

  unsigned char* data() const { return data_; }
  size_t capacity() const { return capacity_; }
  size_t used() const { return used_; }
  bool from_pool() const { return pool_index_ >= 0; }

  // Blocks of the pool currently handed out (for tests and diagnostics).
  static size_t pool_in_use();

 private:
  unsigned char* data_ = nullptr;
  size_t capacity_ = 0;
  size_t used_ = 0;
  int pool_index_ = -1;
};

}  // namespace tambrel
