// Memory handles, lock guards, text buffers and private memory pools.
//
// A handle (`handle_t`) is a reference-counted, lockable block of bytes. Its
// data is either owned (allocated by the library, freed with the record) or
// foreign (a caller's memory wrapped without copying, never freed, copied or
// reallocated by the handle). A record dies at the moment when both its
// reference count and its lock count are 0 after a release or an unlock: a
// locked handle outlives its last owner, and the unlock that balances the
// last lock destroys it. "Lock" pins the data pointer; it is not mutual
// exclusion. Counts are plain integers: one record is used by one thread at a
// time unless its owners synchronise.
//
// "No data" is the all-ones address (ZorNoData()), never null: it is what
// locking or reading a handle without a block (size 0) gives back.
#pragma once

#include <zorvane/form_args.h>
#include <zorvane/types.h>

#include <cstdarg>

namespace zorvane {

class string;
class ZorLock;

// The handle record. Manipulated only through the free functions below;
// `purgeable` is set by the owner and only reported.
struct handle_t {
  void* data;           // the block, null when the size is 0
  uint32_t size;        // bytes in the block
  uint32_t references;  // owners; all ones while the record is being destroyed
  uint32_t foreign;     // 1: data belongs to somebody else
  uint32_t locks;       // outstanding locks
  uint8_t purgeable;
  uint32_t capacity;    // bytes allocated for owned data (>= size); growth is amortised
};

// New record with references 1 and an owned block of `size` bytes (none for 0).
ZOR_API handle_t* ZorAllocHandle(uint32_t size);
// New record over the caller's `data`, references 0: the first owner's
// reference (ZorHandle::Attach) makes it 1.
ZOR_API handle_t* ZorCreateHandleFromDataPtr(void* data, uint32_t size);
ZOR_API void ZorAddHandleRef(handle_t* h);
ZOR_API void ZorReleaseHandle(handle_t* h);
// Locks + 1; the data, or ZorNoData() when there is none (the lock still counts).
ZOR_API void* ZorLockHandle(handle_t* h);
ZOR_API void ZorUnlockHandle(handle_t* h);
ZOR_API uint32_t ZorGetHandleSize(const handle_t* h);
ZOR_API uint32_t ZorGetRefCount(const handle_t* h);
ZOR_API bool ZorIsHandleLocked(const handle_t* h);
ZOR_API bool ZorIsHandlePurgeable(const handle_t* h);
// The data without locking, ZorNoData() when there is none.
ZOR_API void* ZorGetHandleDatas(const handle_t* h);
// n > 0: the block becomes n bytes, content kept up to the smaller size;
// n = 0: an owned block is freed, the handle has no data.
ZOR_API void ZorSetHandleSize(handle_t* h, uint32_t n);
ZOR_API void* ZorSetHandleSizeLock(handle_t* h, uint32_t n);
// dst takes src's size and content: an owned src is copied into a new block,
// a foreign src is shared (dst becomes foreign). dst's previous owned block
// is freed.
ZOR_API void ZorCopyHandle(handle_t* dst, const handle_t* src);
// New record: an owned src is copied (references 1), a foreign src is shared
// (references 0, foreign).
ZOR_API handle_t* ZorDupHandle(const handle_t* src);
ZOR_API void ZorRAZHandle(handle_t* h);

// Something whose data pointer stays valid while it is locked. `UnlockRef` is
// what a guard carrying a reference value (ZorLock::_SetRef) calls instead of
// Unlock; by default it is a plain Unlock.
class ZOR_API iZorLockable {
 public:
  virtual void* Lock(ZorLock* guard) = 0;
  virtual void Unlock() = 0;
  virtual void UnlockRef(ZorLock* guard);
  virtual ~iZorLockable() = default;
};

// A call-back with one 32-bit argument: an object and the function to call
// on it. It owns nothing: the object must outlive every call.
//   ZorDelegate d = ZorDelegate::Member<&Owner::OnDone>(&owner);
//   ZorDelegate e = ZorDelegate::Callable(&lambda);   // any f(int32_t)
class ZOR_API ZorDelegate {
 public:
  using Thunk = void (*)(void* object, int32_t arg);

  ZorDelegate() = default;
  ZorDelegate(void* object, Thunk thunk) : _object(object), _thunk(thunk) {}

  template <auto Fn, class T>
  static ZorDelegate Member(T* object) {
    return ZorDelegate(object, [](void* o, int32_t a) { (static_cast<T*>(o)->*Fn)(a); });
  }
  template <class F>
  static ZorDelegate Callable(F* callable) {
    return ZorDelegate(callable, [](void* o, int32_t a) { (*static_cast<F*>(o))(a); });
  }

  bool IsInit() const { return _thunk != nullptr; }
  void Call(int32_t arg) const {
    if (_thunk) _thunk(_object, arg);
  }

 private:
  void* _object = nullptr;
  Thunk _thunk = nullptr;
};

// Release guard: keeps a lockable locked, or holds a delegate to call, until
// it is released, once. The target is not owned and must outlive the guard.
// Copies share the one release: Trash() or the destructor of a copy only
// drops that copy, and the last copy to go releases the target. Detach()
// drops a copy without releasing (when it was the last one, nothing is ever
// released). A move hands the guard over and leaves the source empty. The
// reference value belongs to the copy it is set on: set it before copying.
class ZOR_API ZorLock {
 public:
  enum : uint32_t { kRef = 1, kDelegate = 2, kLockable = 4 };

  ZorLock() = default;
  explicit ZorLock(const iZorLockable* target) { Init(target); }
  ZorLock(const ZorLock& other);
  ZorLock& operator=(const ZorLock& other);
  ZorLock(ZorLock&& other) noexcept;
  ZorLock& operator=(ZorLock&& other) noexcept;
  ~ZorLock() { Trash(); }

  // Each Init first releases (or drops) what the guard held.
  void Init(const iZorLockable* target);
  void Init(const ZorDelegate* delegate, int32_t arg);
  bool IsInit() const { return _flags != 0; }
  void Trash();
  void Detach();

  void _SetRef(int32_t ref) {
    _ref = ref;
    _flags |= kRef;
  }
  int32_t _GetRef() const { return _ref; }
  uint32_t GetFlags() const { return _flags; }

 private:
  void _copyFrom(const ZorLock& other);
  bool _leave();

  const void* _target = nullptr;
  uint32_t _flags = 0;
  int32_t _ref = 0;
  int32_t _arg = 0;
  // The number of copies holding the guard, shared by them; created by the
  // first copy (null while the guard has never been copied).
  mutable int32_t* _copies = nullptr;
};

// Value class holding one handle record (null when not initialised). Copies
// share the record (one more reference); DetachCopy makes it private before
// writing. Pointers from Lock/GetDatas stay valid until the next resize of
// the record, and, unless locked, until the last owner lets it go.
class ZOR_API ZorHandle : public iZorLockable {
 public:
  ZorHandle() = default;
  ZorHandle(const ZorHandle& other);
  ZorHandle& operator=(const ZorHandle& other);
  ZorHandle(ZorHandle&& other) noexcept : _h(other._h) { other._h = nullptr; }
  ZorHandle& operator=(ZorHandle&& other) noexcept;
  ~ZorHandle() override { Trash(); }

  // Allocates a handle, or resizes the existing one.
  void Init(uint32_t size);
  void Init(const void* data, uint32_t size);
  bool IsInit() const { return _h != nullptr; }
  uint32_t GetSize() const { return ZorGetHandleSize(_h); }
  uint32_t GetRefCount() const { return ZorGetRefCount(_h); }
  void* GetDatas() const { return ZorGetHandleDatas(_h); }

  // With a guard, the guard's release unlocks.
  void* Lock(ZorLock* guard = nullptr) override;
  void Unlock() override;

  // Releases its record and shares other's (one more reference).
  void Attach(ZorHandle* other);
  // Releases its record and takes h, adding a reference.
  void Attach(handle_t* h);
  // Returns the record and forgets it without releasing.
  handle_t* Detach();
  // Copy on write: a record shared with other owners is replaced by a private
  // one (foreign data stays shared, never copied).
  void DetachCopy();
  // Content copy into a record of its own (see ZorCopyHandle for foreign data).
  void Copy(const ZorHandle* src);
  void Trash();

  void SetSize(uint32_t n);
  void* SetSizeLock(uint32_t n);
  // As SetSize; bytes added by growth are zero.
  void SetSizeZ(uint32_t n);
  // New size = size + delta, 0 when that would be negative.
  void Grow(int32_t delta);
  void* GrowLock(int32_t delta);
  void Raz();

  // Replaces the bytes [from, to) by n bytes of src (from clamped to
  // [0, size], to to [from, size]); returns the new size.
  int32_t ReplaceData(int32_t from, int32_t to, const void* src, int32_t n);
  // With `used`: writes n bytes at *used, growing to *used + n + reserve only
  // when they do not fit, and advances *used. Without: grows by exactly n and
  // writes at the end.
  void AppendData(uint32_t n, const void* src, uint32_t* used = nullptr, uint32_t reserve = 0);

  handle_t* GetRecord() const { return _h; }

 private:
  void _resize(uint32_t n);
  handle_t* _h = nullptr;
};

// Growing text buffer on a handle: a pool of NUL-terminated texts addressed
// by byte offset (AddText), or one plain growing text (CatText). The handle's
// size is the capacity; the used length is the content. Appends grow the
// block with a 32 KB reserve. GetText pointers are valid only while the
// buffer is locked; appends made while locked refresh the cached pointer.
class ZOR_API ZorTextBuf : public iZorLockable {
 public:
  ZorTextBuf() = default;
  ZorTextBuf(const ZorTextBuf&) = delete;
  ZorTextBuf& operator=(const ZorTextBuf&) = delete;
  ~ZorTextBuf() override { Trash(); }

  // withEmpty: a first 0 byte makes offset 0 the empty text.
  void Init(bool withEmpty);
  // Takes h's bytes (shared or copied); the used length is h's size.
  void Init(ZorHandle* h, bool share);
  bool IsInit() const { return _h.IsInit(); }
  void Trash();

  // n = -1: up to the terminator. Return the offset where the text starts.
  uint32_t AddText(const char* s, int32_t n = -1);
  uint32_t AddChar(char c);
  // Formats the message pattern (zorvane/format.h) with the arguments, then adds.
  template <class... A>
  uint32_t AddTextEx(const char* pattern, A... args) {
    return AddTextArgs(pattern, ZorFormArgs::Of(args...));
  }
  uint32_t AddTextArgs(const char* pattern, const ZorFormArgs& args);
  uint32_t AddTextV(const char* pattern, va_list args);
  uint32_t AddDupText(const char* s, int32_t n = -1);
  // Appends without terminator.
  uint32_t CatText(const char* s, int32_t n = -1);
  uint32_t CatChar(char c);
  template <class... A>
  uint32_t CatTextEx(const char* pattern, A... args) {
    return CatTextArgs(pattern, ZorFormArgs::Of(args...));
  }
  uint32_t CatTextArgs(const char* pattern, const ZorFormArgs& args);
  uint32_t CatTextV(const char* pattern, va_list args);
  uint32_t CatZTerm();

  char* GetText(uint32_t offset) const;
  const char* GetString(string* dst) const;
  ZorHandle* GetHandle() { return &_h; }
  uint32_t GetLen() const { return _used; }

  void* Lock(ZorLock* guard = nullptr) override;
  void Unlock() override;

 private:
  uint32_t _append(const void* bytes, uint32_t n);
  uint32_t _findText(const char* s, uint32_t n);

  ZorHandle _h;
  uint32_t _used = 0;
  char* _locked = nullptr;
};

// A private heap: every block it hands out is freed at once by Trash() or the
// destructor. Serialised pools take a mutex on every call; unserialised ones
// are for one thread at a time. Without Init, the allocating calls give null
// or 0.
class ZOR_API ZorMemPool {
 public:
  ZorMemPool() = default;
  ZorMemPool(const ZorMemPool&) = delete;
  ZorMemPool& operator=(const ZorMemPool&) = delete;
  ~ZorMemPool() { Trash(); }

  void Init(bool serialised, uint32_t initialSize);
  bool IsInit() const { return _heap != nullptr; }
  void* Alloc(uint32_t n);
  void* Realloc(void* p, uint32_t n);
  void Free(void* p);
  char* StrDupA(const char* s);
  uint32_t GetSize(const void* p) const;
  // The largest free block the pool keeps for reuse: always 0, as freed
  // blocks go straight back to the process allocator.
  uint32_t Compact();
  void Trash();

 private:
  void* _heap = nullptr;
  uint32_t _flags = 0;  // 1: unserialised
};

}  // namespace zorvane
