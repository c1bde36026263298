// The release guard.
//
// A guard holds at most one target, recorded by its flags: kLockable (the
// target is an iZorLockable to unlock, through UnlockRef when kRef is set too)
// or kDelegate (the target is a ZorDelegate to call with the stored argument).
// Releasing clears the flags before calling the target, so a target that
// re-enters the guard, or throws, never sees it released twice.
#include <zorvane/handle.h>

#include <utility>

namespace zorvane {

void iZorLockable::UnlockRef(ZorLock*) { Unlock(); }

ZorLock& ZorLock::operator=(const ZorLock& other) {
  if (this != &other) {
    Trash();
    _target = other._target;
    _flags = other._flags;
    _ref = other._ref;
    _arg = other._arg;
  }
  return *this;
}

ZorLock::ZorLock(ZorLock&& other) noexcept
    : _target(other._target), _flags(other._flags), _ref(other._ref), _arg(other._arg) {
  other._flags = 0;
}

ZorLock& ZorLock::operator=(ZorLock&& other) noexcept {
  if (this != &other) {
    Trash();
    _target = other._target;
    _flags = std::exchange(other._flags, 0);
    _ref = other._ref;
    _arg = other._arg;
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

void ZorLock::Trash() {
  const uint32_t flags = std::exchange(_flags, 0);
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
