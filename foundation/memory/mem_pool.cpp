// Private memory pools.
//
// A pool is a doubly linked ring of blocks taken from the C allocator, each
// preceded by a 32-byte header (ring links, owning pool, size), so that the
// block keeps the 16-byte alignment of malloc, GetSize reads the header and
// Trash walks the ring to free every block at once. A freed block leaves the
// ring and goes straight back to the C allocator, which already recycles and
// trims memory; the pool therefore keeps no free blocks of its own and the
// initial size is only a hint. A serialised pool takes its mutex around every
// operation on the ring.
#include <zorvane/exception.h>
#include <zorvane/handle.h>

#include "foundation/errors/raise.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace zorvane {

namespace {

constexpr uint32_t kUnserialised = 1;
constexpr uint32_t kLineAlloc = 50;
constexpr uint32_t kLineRealloc = 73;

struct PoolState;

struct BlockHeader {
  BlockHeader* prev;
  BlockHeader* next;
  PoolState* owner;
  uint64_t size;
};
static_assert(sizeof(BlockHeader) % 16 == 0, "blocks keep malloc's alignment");

struct PoolState {
  std::mutex mutex;
  BlockHeader ring{&ring, &ring, this, 0};
};

[[noreturn]] void RaiseNoMemory(uint32_t line) { ZorRaise({"memory\\ZorMemPool", line}, ZorErr(1, 1)); }

BlockHeader* HeaderOf(const void* p) {
  auto* h = reinterpret_cast<BlockHeader*>(static_cast<char*>(const_cast<void*>(p)) - sizeof(BlockHeader));
  return h;
}

void* Payload(BlockHeader* h) { return reinterpret_cast<char*>(h) + sizeof(BlockHeader); }

void Link(PoolState* pool, BlockHeader* h) {
  h->owner = pool;
  h->prev = &pool->ring;
  h->next = pool->ring.next;
  pool->ring.next->prev = h;
  pool->ring.next = h;
}

void Unlink(BlockHeader* h) {
  h->prev->next = h->next;
  h->next->prev = h->prev;
}

// Locks the pool's mutex when the pool is serialised.
class PoolGuard {
 public:
  PoolGuard(void* heap, uint32_t flags) : _lock(static_cast<PoolState*>(heap)->mutex, std::defer_lock) {
    if (!(flags & kUnserialised)) _lock.lock();
  }

 private:
  std::unique_lock<std::mutex> _lock;
};

}  // namespace

void ZorMemPool::Init(bool serialised, uint32_t) {
  Trash();
  _heap = new PoolState;
  _flags = serialised ? 0 : kUnserialised;
}

void* ZorMemPool::Alloc(uint32_t n) {
  if (!_heap) return nullptr;
  auto* h = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + n));
  if (!h) RaiseNoMemory(kLineAlloc);
  h->size = n;
  PoolGuard guard(_heap, _flags);
  Link(static_cast<PoolState*>(_heap), h);
  return Payload(h);
}

void* ZorMemPool::Realloc(void* p, uint32_t n) {
  if (!_heap) return nullptr;
  if (!p) return Alloc(n);
  PoolGuard guard(_heap, _flags);
  BlockHeader* h = HeaderOf(p);
  assert(h->owner == _heap);
  Unlink(h);
  auto* moved = static_cast<BlockHeader*>(std::realloc(h, sizeof(BlockHeader) + n));
  if (!moved) {
    Link(static_cast<PoolState*>(_heap), h);
    RaiseNoMemory(kLineRealloc);
  }
  moved->size = n;
  Link(static_cast<PoolState*>(_heap), moved);
  return Payload(moved);
}

void ZorMemPool::Free(void* p) {
  if (!_heap || !p) return;
  BlockHeader* h = HeaderOf(p);
  assert(h->owner == _heap);
  {
    PoolGuard guard(_heap, _flags);
    Unlink(h);
  }
  std::free(h);
}

char* ZorMemPool::StrDupA(const char* s) {
  if (!_heap || !s) return nullptr;
  const size_t n = std::strlen(s) + 1;
  if (n > 0xFFFFFFFFu) RaiseNoMemory(kLineAlloc);
  auto* copy = static_cast<char*>(Alloc(static_cast<uint32_t>(n)));
  std::memcpy(copy, s, n);
  return copy;
}

uint32_t ZorMemPool::GetSize(const void* p) const {
  if (!_heap || !p) return 0;
  const BlockHeader* h = HeaderOf(p);
  assert(h->owner == _heap);
  return static_cast<uint32_t>(h->size);
}

uint32_t ZorMemPool::Compact() { return 0; }

void ZorMemPool::Trash() {
  auto* pool = static_cast<PoolState*>(_heap);
  if (!pool) return;
  _heap = nullptr;
  for (BlockHeader* h = pool->ring.next; h != &pool->ring;) {
    BlockHeader* next = h->next;
    std::free(h);
    h = next;
  }
  delete pool;
}

}  // namespace zorvane
