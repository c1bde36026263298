// Helpers shared by the block file's own source files (not by the
// maintenance code, which works through ZorBFile's private members).
#pragma once

#include <zorvane/block_file.h>

#include <exception>

namespace zorvane::bfile {

constexpr const char* kSource = "ZorBFile";
constexpr int32_t kTextGroup = 237;     // the block file's texts
constexpr int32_t kTextInternalFr = 1;  // "erreur interne"
constexpr int32_t kTextInternalEn = 2;  // "internal error"
constexpr int32_t kMsgFileChanged = 43;
constexpr int32_t kMsgFileChangedSub = 37;

// One transaction for the duration of an operation, as a ZorLock on the file
// would give, except that a failing flush at the end of a normal exit is
// raised to the caller; on the way out of an exception the transaction is
// ended quietly.
class Txn {
 public:
  explicit Txn(ZorBFile* f) : _f(f), _unwinding(std::uncaught_exceptions()) { f->StartTransaction(); }
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;
  ~Txn() noexcept(false) {
    if (std::uncaught_exceptions() > _unwinding) {
      try {
        _f->EndTransaction();
      } catch (...) {
      }
      return;
    }
    _f->EndTransaction();
  }

 private:
  ZorBFile* _f;
  int _unwinding;
};

// 2^40 bound check for an extent.
inline bool ExtentFits(uint64_t pos, uint64_t capacity) { return pos + capacity < kZorBfPositionLimit; }

// Matching of the selection operations: `any` as the wanted value (or the
// lower bound of a range) selects everything.
inline bool OwnerMatches(int32_t wanted, int32_t owner) { return wanted == ZorBfAnyOwner || wanted == owner; }
inline bool TypeMatches(int16_t wanted, int16_t type) { return wanted == ZorBfAnyType || wanted == type; }
inline bool OwnerInRange(int32_t lo, int32_t hi, int32_t owner) {
  return lo == ZorBfAnyOwner || (owner >= lo && owner <= hi);
}
inline bool TypeInRange(int16_t lo, int16_t hi, int16_t type) {
  return lo == ZorBfAnyType || (type >= lo && type <= hi);
}

}  // namespace zorvane::bfile

namespace zorvane::bfile {
// The address space the cache heuristics assume (cache.cpp).
uint64_t AddressSpaceBytes();
// min(700, address space / 256 KiB).
int32_t DefaultCacheLimit();
}  // namespace zorvane::bfile
