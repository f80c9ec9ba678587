#include "alloc_guard.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace allocguard {

namespace {

constexpr std::uint64_t kLiveMagic = 0x4C495645424C4B31ull;
constexpr std::uint64_t kFreedMagic = 0x4652454544424C4Bull;
constexpr unsigned char kPoison = 0xDB;
constexpr std::size_t kKept = 8192;  // blocks kept poisoned before they really go

struct Header {  // 16 bytes, so the block stays 16-byte aligned
  std::uint64_t size;
  std::uint64_t magic;
};

std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_touched{0};
std::atomic<std::size_t> g_doubleDeletes{0};
std::atomic_flag g_lock = ATOMIC_FLAG_INIT;
Header* g_kept[kKept];
std::size_t g_next = 0;

void lock() {
  while (g_lock.test_and_set(std::memory_order_acquire)) {
  }
}
void unlock() { g_lock.clear(std::memory_order_release); }

void releaseKept(Header* header) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(header + 1);
  for (std::uint64_t i = 0; i < header->size; ++i) {
    if (bytes[i] != kPoison) {
      g_touched.fetch_add(1);
      break;
    }
  }
  std::free(header);
}

void* allocate(std::size_t size) {
  Header* header = static_cast<Header*>(std::malloc(sizeof(Header) + (size ? size : 1)));
  if (!header) throw std::bad_alloc();
  header->size = size;
  header->magic = kLiveMagic;
  g_live.fetch_add(1);
  return header + 1;
}

void release(void* p) {
  if (!p) return;
  Header* header = static_cast<Header*>(p) - 1;
  if (header->magic != kLiveMagic) {
    g_doubleDeletes.fetch_add(1);
    return;
  }
  header->magic = kFreedMagic;
  std::memset(p, kPoison, header->size);
  g_live.fetch_sub(1);
  lock();
  Header* old = g_kept[g_next];
  g_kept[g_next] = header;
  g_next = (g_next + 1) % kKept;
  unlock();
  if (old) releaseKept(old);
}

}  // namespace

std::size_t liveBlocks() { return g_live.load(); }

std::size_t flushAndCountTouched() {
  for (std::size_t i = 0; i < kKept; ++i) {
    lock();
    Header* old = g_kept[i];
    g_kept[i] = nullptr;
    unlock();
    if (old) releaseKept(old);
  }
  return g_touched.load();
}

std::size_t doubleDeletes() { return g_doubleDeletes.load(); }

}  // namespace allocguard

void* operator new(std::size_t size) { return allocguard::allocate(size); }
void* operator new[](std::size_t size) { return allocguard::allocate(size); }
void operator delete(void* p) noexcept { allocguard::release(p); }
void operator delete[](void* p) noexcept { allocguard::release(p); }
void operator delete(void* p, std::size_t) noexcept { allocguard::release(p); }
void operator delete[](void* p, std::size_t) noexcept { allocguard::release(p); }
