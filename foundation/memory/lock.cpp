// The release guard.
//
// A guard holds at most one target, recorded by its flags: kLockable (the
// target is an iZorLockable to unlock, through UnlockRef when kRef is set too)
// or kDelegate (the target is a ZorDelegate to call with the stored argument).
// Releasing clears the flags before calling the target, so a target that
// re-enters the guard, or throws, never sees it released twice.
//
// Copies of a guard share one counter of the copies that hold it, allocated
// when the guard is first copied; a copy that goes decrements it, and only
// the one that brings it to zero releases the target (and frees the
// counter). A guard that was never copied has no counter and releases on its
// own, so the usual guard costs no allocation.
#include <zorvane/handle.h>

#include <atomic>
#include <utility>

namespace zorvane {

void iZorLockable::UnlockRef(ZorLock*) { Unlock(); }

void ZorLock::_copyFrom(const ZorLock& other) {
  _target = other._target;
  _flags = other._flags;
  _ref = other._ref;
  _arg = other._arg;
  if (!_flags) return;
  if (!other._copies) other._copies = new int32_t(1);
  _copies = other._copies;
  std::atomic_ref<int32_t>(*_copies).fetch_add(1);
}

// Drops this copy's hold; true when no other copy holds the guard any more.
bool ZorLock::_leave() {
  int32_t* copies = std::exchange(_copies, nullptr);
  if (!copies) return true;
  if (std::atomic_ref<int32_t>(*copies).fetch_sub(1) > 1) return false;
  delete copies;
  return true;
}

ZorLock::ZorLock(const ZorLock& other) { _copyFrom(other); }

ZorLock& ZorLock::operator=(const ZorLock& other) {
  if (this != &other) {
    Trash();
    _copyFrom(other);
  }
  return *this;
}

ZorLock::ZorLock(ZorLock&& other) noexcept
    : _target(other._target), _flags(std::exchange(other._flags, 0)), _ref(other._ref), _arg(other._arg),
      _copies(std::exchange(other._copies, nullptr)) {}

ZorLock& ZorLock::operator=(ZorLock&& other) noexcept {
  if (this != &other) {
    Trash();
    _target = other._target;
    _flags = std::exchange(other._flags, 0);
    _ref = other._ref;
    _arg = other._arg;
    _copies = std::exchange(other._copies, nullptr);
  }
  return *this;
}

void ZorLock::Init(const iZorLockable* target) {
  Trash();
  _target = target;
  _ref = 0;
  _flags = target ? uint32_t{kLockable} : 0u;
}

void ZorLock::Init(const ZorDelegate* delegate, int32_t arg) {
  Trash();
  _target = delegate;
  _arg = arg;
  _ref = 0;
  _flags = delegate ? uint32_t{kDelegate} : 0u;
}

void ZorLock::Detach() {
  _flags = 0;
  _leave();
}

void ZorLock::Trash() {
  const uint32_t flags = std::exchange(_flags, 0);
  if (!_leave()) return;  // another copy still holds the target
  if (flags & kLockable) {
    // Lock and Unlock change the target's pin count, not its value: the guard
    // keeps a const pointer as handed over, and releases through it.
    auto* lockable = const_cast<iZorLockable*>(static_cast<const iZorLockable*>(_target));
    if (flags & kRef)
      lockable->UnlockRef(this);
    else
      lockable->Unlock();
  } else if (flags & kDelegate) {
    static_cast<const ZorDelegate*>(_target)->Call(_arg);
  }
}

}  // namespace zorvane
