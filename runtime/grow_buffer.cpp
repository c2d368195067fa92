#include "runtime/grow_buffer.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace tambrel {
namespace {

alignas(16) unsigned char g_pool[GrowBuffer::kPoolBlocks][GrowBuffer::kPoolBlockSize];
std::atomic<bool> g_in_use[GrowBuffer::kPoolBlocks];
std::atomic<size_t> g_count{0};

int claim_pool_block() {
  if (g_count.load() >= GrowBuffer::kPoolBlocks) return -1;
  for (size_t i = 0; i < GrowBuffer::kPoolBlocks; ++i) {
    if (!g_in_use[i].exchange(true, std::memory_order_acquire)) {
      g_count.fetch_add(1);
      return static_cast<int>(i);
    }
  }
  return -1;
}

void give_back(int index) {
  g_in_use[index].store(false, std::memory_order_release);
  g_count.fetch_sub(1);
}

}  // namespace

size_t GrowBuffer::pool_in_use() { return g_count.load(); }

bool GrowBuffer::reserve(size_t n) {
  if (n == 0) {
    release();
    return true;
  }
  if (!data_) {
    if (n <= kPoolBlockSize) {
      int index = claim_pool_block();
      if (index >= 0) {
        pool_index_ = index;
        data_ = g_pool[index];
        capacity_ = kPoolBlockSize;
        return true;
      }
    }
    data_ = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, n + 128));
    if (!data_) return false;
    capacity_ = n + 128;
    return true;
  }
  // Keep the block while it is big enough, unless a heap block has become far too big.
  if (capacity_ >= n && (from_pool() || capacity_ - n <= 256)) return true;
  if (from_pool()) {
    auto* fresh = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, n + 128));
    if (!fresh) return false;
    std::memcpy(fresh, data_, n < used_ ? n : used_);
    give_back(pool_index_);
    pool_index_ = -1;
    data_ = fresh;
  } else {
    auto* fresh = static_cast<unsigned char*>(HeapReAlloc(GetProcessHeap(), 0, data_, n + 128));
    if (!fresh) return false;
    data_ = fresh;
  }
  capacity_ = n + 128;
  if (used_ > n) used_ = n;
  return true;
}

bool GrowBuffer::append_pointer(void* p) {
  if (capacity_ - used_ < sizeof p && !reserve(used_ + sizeof p)) return false;
  std::memcpy(data_ + used_, &p, sizeof p);
  used_ += sizeof p;
  return true;
}

void GrowBuffer::release() {
  if (!data_) return;
  if (from_pool()) {
    give_back(pool_index_);
  } else {
    HeapFree(GetProcessHeap(), 0, data_);
  }
  data_ = nullptr;
  capacity_ = used_ = 0;
  pool_index_ = -1;
}

}  // namespace tambrel
