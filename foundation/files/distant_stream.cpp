// Shared ("distant") files: how processes that share a file learn what the
// others changed.
//
// Setting. The processes may run on several machines that reach the file
// over NFS or SMB. They have byte-range locks and close-to-open consistency
// and nothing else: no shared memory, no signal between them. A local file
// is treated the same way while the force switch is on, which is how the
// protocol is tested on one machine.
//
// Bracket. Command 2 takes a blocking OFD lock on the bracket sentinel of the
// data file (exclusive for a writable stream, shared for a read-only one);
// command 3 releases it. Between the two, the process is alone with the file
// (or among readers only).
//
// Change log. Beside the file "name" lives "name.zsl":
//
//    offset  size  field
//         0     8  magic "ZorSLog1"
//         8     8  generation: a random non-zero number drawn when the log is
//                  created or reset
//        16     8  the sequence number of the next entry
//        24     4  capacity: the number of entry slots (1024)
//        28     4  the chunk size (4096)
//        32     8  writer mark: non-zero from a writer's first change inside
//                  its bracket until it publishes (see Dead writers)
//        40    24  zero
//        64        the slots, 24 bytes each: sequence, first chunk, chunk
//                  count (all ones: every chunk from the first to the end)
//
// Entry n lives in slot n % capacity; all numbers are little-endian. The log
// changes only under the bracket held exclusively and, inside it, under an
// exclusive lock on byte 0 of the log; a reader of the log holds that lock
// shared. Locking the log itself is what makes a network client drop its
// cached pages of the log and push its writes out at the unlock.
//
// A link remembers the generation it read and the sequence of the next entry
// it has not seen. At command 2 it reads the entries from there to the
// header's next sequence and marks their chunks stale; a different
// generation, more new entries than slots (the log wrapped), or a slot that
// does not carry the sequence it should (a torn write) means that everything
// may have changed. If anything became stale, the change callback runs
// before command 2 returns. At command 3 a writer appends one entry per run
// of chunks it wrote since its last publication (one "everything" entry when
// there are too many runs), then the header; it then knows the log up to its
// own last entry. Writes made outside a bracket are published at the next
// command 3 or at close. On a network file system the data, then the log,
// are synced before the bracket is released, so that a log entry is never
// visible before the data it describes.
//
// Dead writers. A process may die inside its bracket after changing the
// file and before publishing; the lock dies with it and nothing would tell
// the others. So, before its first change inside a bracket, a writer
// stores a mark of its own (random, per link) in the log header and syncs
// it on a network file system; publishing writes the header without it.
// Whoever takes the bracket and finds a mark that is not its own knows
// that everything may have changed; a writer that finds one resets the
// log (a new generation), so that every other process learns it too.
//
// Staleness. Per 4096-byte chunk: stale from the moment a new entry names it
// until this process reads or writes the whole chunk (a read that stops at
// the end of the file covers the chunk it ends in). IsRangeChanged is true
// when any chunk that the range touches is stale. At open nothing is stale:
// the link starts from the log as it stands.
#include "foundation/files/distant_stream.h"

#include <zorvane/exception.h>

#include "foundation/errors/raise.h"
#include "foundation/files/file_stream.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"

#include <fcntl.h>
#include <linux/magic.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace zorvane {

namespace {

using platform::GetLE32;
using platform::GetLE64;
using platform::PutLE32;
using platform::PutLE64;
using platform::LockKind;

constexpr char kSource[] = "ZorFiles";
constexpr char kMagic[8] = {'Z', 'o', 'r', 'S', 'L', 'o', 'g', '1'};
constexpr uint32_t kHeaderSize = 64;
constexpr uint32_t kEntrySize = 24;
constexpr uint32_t kCapacity = 1024;
constexpr uint64_t kToEnd = ~uint64_t{0};
// Runs past this chunk (a 1 TB file) are tracked as "to the end".
constexpr uint64_t kMaxTrackedChunks = uint64_t{1} << 28;
// More runs than this in one publication become one "everything" entry.
constexpr size_t kMaxRunsPerPublication = kCapacity / 4;

std::atomic<bool> g_forceDistant{false};

uint64_t NewGeneration() {
  std::random_device rd;
  uint64_t g = 0;
  while (g == 0) g = (static_cast<uint64_t>(rd()) << 32) ^ rd();
  return g;
}

uint64_t SlotOffset(uint64_t seq) { return kHeaderSize + (seq % kCapacity) * kEntrySize; }

}  // namespace

struct ZorDistantLink::LogHeader {
  uint64_t generation = 0;
  uint64_t next = 0;
  uint64_t writer = 0;
};

void ZorSetForceDistant(bool force) { g_forceDistant = force; }
bool ZorGetForceDistant() { return g_forceDistant; }

bool ZorDistantLink::IsNetworkFile(platform::Env& env, int fd) {
  uint32_t type = 0;
  if (env.FileSystemOf(fd, &type) != 0) return false;
  return type == NFS_SUPER_MAGIC || type == SMB_SUPER_MAGIC || type == platform::kCifsMagic ||
         type == platform::kSmb2Magic;
}

bool ZorDistantLink::IsDistantFile(platform::Env& env, int fd) { return g_forceDistant || IsNetworkFile(env, fd); }

ZorDistantLink::ZorDistantLink(iZorStream* owner, const ZorFsa* path, platform::Env& env, int dataFd,
                               const std::string& osPath, bool writable)
    : _owner(owner),
      _path(path),
      _env(env),
      _logPath(osPath + ".zsl"),
      _writable(writable),
      _network(IsNetworkFile(env, dataFd)) {
  _mark = NewGeneration();
  const int err = _openLog();
  // A writer whose changes others could not learn would corrupt their view.
  if (_writable && !_logWritable) _raise(_logFd < 0 ? err : EACCES);
  if (_logFd < 0) return;
  LogHeader h;
  _lockLog(_logWritable);
  if (!_readHeader(&h) && _logWritable) _resetLog(&h);
  _unlockLog();
  _generation = h.generation;
  _seen = h.next;
}

ZorDistantLink::~ZorDistantLink() {
  if (_logFd >= 0) _env.Close(_logFd);
}

void ZorDistantLink::_raise(int err) const { ZorRaiseErrno(kSource, err, _path); }

void ZorDistantLink::_sync(int fd) const {
  if (const int err = _env.DataSync(fd)) _raise(err);
}

// Opens the log, for writing when the link may; the error of the last
// attempt when it stays closed.
int ZorDistantLink::_openLog() {
  int err = 0;
  if (_writable) {
    err = _env.Open(_logPath.c_str(), O_RDWR | O_CREAT, 0666, &_logFd);
    _logWritable = _logFd >= 0;
  }
  if (_logFd < 0) err = _env.Open(_logPath.c_str(), O_RDONLY, 0, &_logFd);
  return err;
}

bool ZorDistantLink::_readAll(void* buf, size_t n, uint64_t offset) const {
  size_t done = 0;
  while (done < n) {
    size_t r = 0;
    if (_env.PRead(_logFd, static_cast<char*>(buf) + done, n - done, offset + done, &r) != 0 || r == 0) return false;
    done += r;
  }
  return true;
}

int ZorDistantLink::_writeAll(const void* buf, size_t n, uint64_t offset) {
  size_t done = 0;
  while (done < n) {
    size_t r = 0;
    if (const int err = _env.PWrite(_logFd, static_cast<const char*>(buf) + done, n - done, offset + done, &r))
      return err;
    if (r == 0) return EIO;
    done += r;
  }
  return 0;
}

bool ZorDistantLink::_lockLog(bool exclusive) {
  if (_logFd < 0) return false;
  const int err = _env.Lock(_logFd, exclusive ? LockKind::kExclusive : LockKind::kShared, 0, 1, true);
  if (err) _raise(err);
  return true;
}

void ZorDistantLink::_unlockLog() {
  if (_logFd >= 0) _env.Lock(_logFd, LockKind::kRelease, 0, 1, false);
}

bool ZorDistantLink::_readHeader(LogHeader* h) const {
  uint8_t b[kHeaderSize];
  *h = LogHeader{};
  if (!_readAll(b, sizeof b, 0)) return false;
  if (memcmp(b, kMagic, 8) != 0 || GetLE32(b + 24) != kCapacity || GetLE32(b + 28) != kChunkSize) return false;
  h->generation = GetLE64(b + 8);
  h->next = GetLE64(b + 16);
  h->writer = GetLE64(b + 32);
  return h->generation != 0;
}

void ZorDistantLink::_writeHeader(const LogHeader& h) {
  uint8_t b[kHeaderSize] = {};
  memcpy(b, kMagic, 8);
  PutLE64(b + 8, h.generation);
  PutLE64(b + 16, h.next);
  PutLE32(b + 24, kCapacity);
  PutLE32(b + 28, kChunkSize);
  PutLE64(b + 32, h.writer);
  if (const int err = _writeAll(b, sizeof b, 0)) _raise(err);
}

void ZorDistantLink::_resetLog(LogHeader* h) {
  h->generation = NewGeneration();
  h->next = 0;
  h->writer = 0;
  _writeHeader(*h);
}

// Reads the entries this link has not seen into _newRuns; false when that is
// not possible and everything must be taken as changed.
bool ZorDistantLink::_readNewEntries(const LogHeader& h) {
  if (h.generation != _generation || h.next < _seen || h.next - _seen > kCapacity) return false;
  for (uint64_t seq = _seen; seq < h.next; ++seq) {
    uint8_t b[kEntrySize];
    if (!_readAll(b, sizeof b, SlotOffset(seq)) || GetLE64(b) != seq) return false;
    _newRuns.push_back({GetLE64(b + 8), GetLE64(b + 16)});
  }
  return true;
}

void ZorDistantLink::AfterAcquire(int dataFd) {
  _newRuns.clear();
  if (_logFd < 0) _openLog();
  if (!_lockLog(false)) return;  // no log: no writer has ever opened the file
  LogLockGuard unlock{this};
  LogHeader h;
  const bool valid = _readHeader(&h);
  const bool orphan = valid && h.writer != 0;
  const bool everything = !valid || orphan || !_readNewEntries(h);
  _generation = h.generation;
  _seen = h.next;
  unlock.Release();
  if (orphan && _writable && _logWritable) _clearOrphanMark();
  _holding = _writable;
  if (everything) {
    _markAllStale();
  } else {
    for (const Run& r : _newRuns) _markStale(r.first, r.count);
  }
  if (!everything && _newRuns.empty()) return;
  _dropCache(dataFd, _newRuns, everything);
  _notify(everything);
}

// A writer died inside its bracket: a new generation tells every process.
void ZorDistantLink::_clearOrphanMark() {
  _lockLog(true);
  LogLockGuard unlock{this};
  LogHeader h;
  if (_readHeader(&h) && h.writer == 0) return;
  _resetLog(&h);
  _generation = h.generation;
  _seen = h.next;
}

void ZorDistantLink::BeforeChange() {
  if (!_holding || _announced || !_logWritable) return;
  _lockLog(true);
  LogLockGuard unlock{this};
  LogHeader h;
  if (!_readHeader(&h)) _resetLog(&h);
  h.writer = _mark;
  _writeHeader(h);
  if (_network) _sync(_logFd);
  _generation = h.generation;
  _announced = true;
}

void ZorDistantLink::BeforeRelease(int dataFd) {
  _holding = false;
  _announced = false;
  if (!_writable || _pending.empty()) return;
  if (_network) _sync(dataFd);
  _lockLog(true);
  LogLockGuard unlock{this};
  LogHeader h;
  // A mark not this link's own is a dead writer's: start a new generation.
  if (!_readHeader(&h) || (h.writer != 0 && h.writer != _mark)) _resetLog(&h);
  h.writer = 0;
  _appendPending(&h);
  if (_network) _sync(_logFd);
}

void ZorDistantLink::PublishOutsideBracket(int dataFd) {
  if (!_writable || _pending.empty()) return;
  const uint64_t bracket = streams::kSentinelBase + streams::kSentinelBracket;
  if (const int err = _env.Lock(dataFd, LockKind::kExclusive, bracket, 1, true)) _raise(err);
  struct Release {
    platform::Env& env;
    int fd;
    uint64_t at;
    ~Release() { env.Lock(fd, LockKind::kRelease, at, 1, false); }
  } release{_env, dataFd, bracket};
  BeforeRelease(dataFd);
}

void ZorDistantLink::RemoveLog() { _env.Unlink(_logPath.c_str()); }

// Writes the pending runs as entries after the header's last one, then the
// header. This link's own entries are never read back: it has seen them.
void ZorDistantLink::_appendPending(LogHeader* h) {
  std::vector<Run> runs = _pendingRuns();
  if (runs.size() > kMaxRunsPerPublication) runs.assign(1, Run{0, kToEnd});
  for (const Run& r : runs) {
    uint8_t b[kEntrySize];
    PutLE64(b, h->next);
    PutLE64(b + 8, r.first);
    PutLE64(b + 16, r.count);
    if (const int err = _writeAll(b, sizeof b, SlotOffset(h->next))) _raise(err);
    ++h->next;
  }
  _writeHeader(*h);
  _pending.clear();
  // Entries of others before ours were read at command 2, unless this is a
  // publication at close, where nothing more will be read anyway.
  _generation = h->generation;
  _seen = h->next;
}

// The pending runs sorted and merged.
std::vector<ZorDistantLink::Run> ZorDistantLink::_pendingRuns() const {
  std::vector<Run> runs = _pending;
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
  std::vector<Run> merged;
  for (const Run& r : runs) {
    if (!merged.empty() && (merged.back().count == kToEnd || r.first <= merged.back().first + merged.back().count)) {
      Run& m = merged.back();
      if (m.count != kToEnd) m.count = r.count == kToEnd ? kToEnd : std::max(m.count, r.first + r.count - m.first);
      continue;
    }
    merged.push_back(r);
  }
  return merged;
}

void ZorDistantLink::SetCallback(const ZorDelegate* delegate, ZorStreamChangeFn fn, void* context) {
  _delegate = delegate ? *delegate : ZorDelegate();
  _fn = delegate ? nullptr : fn;
  _context = context;
}

void ZorDistantLink::_notify(bool everything) {
  if (_delegate.IsInit())
    _delegate.Call(everything ? 1 : 0);
  else if (_fn)
    _fn(_context, _owner, everything);
}

// On a network file system, drops the cached pages of what changed, so that
// the next reads go to the server whatever the client's cache policy.
void ZorDistantLink::_dropCache(int dataFd, const std::vector<Run>& runs, bool everything) {
  if (!_network) return;
  if (everything) {
    _env.Advise(dataFd, 0, 0, platform::Advice::kDontNeed);
    return;
  }
  for (const Run& r : runs) {
    const uint64_t len = r.count == kToEnd || r.count > kMaxTrackedChunks ? 0 : r.count * kChunkSize;
    _env.Advise(dataFd, r.first * kChunkSize, len, platform::Advice::kDontNeed);
  }
}

void ZorDistantLink::_markAllStale() {
  std::fill(_stale.begin(), _stale.end(), uint8_t{1});
  _staleBeyond = true;
}

void ZorDistantLink::_markStale(uint64_t first, uint64_t count) {
  if (first >= kMaxTrackedChunks) first = kMaxTrackedChunks;
  const bool toEnd = count == kToEnd || count > kMaxTrackedChunks - first;
  const uint64_t end = toEnd ? std::max<uint64_t>(first, _stale.size()) : first + count;
  if (end > _stale.size()) _stale.resize(end, _staleBeyond ? 1 : 0);
  std::fill(_stale.begin() + static_cast<ptrdiff_t>(first), _stale.begin() + static_cast<ptrdiff_t>(end), uint8_t{1});
  if (toEnd) _staleBeyond = true;
}

void ZorDistantLink::_markFresh(uint64_t first, uint64_t count) {
  if (first >= kMaxTrackedChunks || count == 0) return;
  const uint64_t end = std::min(first + count, kMaxTrackedChunks);
  if (end > _stale.size()) {
    if (!_staleBeyond) return;  // already fresh
    _stale.resize(end, 1);
  }
  std::fill(_stale.begin() + static_cast<ptrdiff_t>(first), _stale.begin() + static_cast<ptrdiff_t>(end), uint8_t{0});
}

bool ZorDistantLink::IsRangeChanged(uint64_t offset, uint64_t length) const {
  if (length == 0) return false;
  const uint64_t first = offset / kChunkSize;
  const uint64_t last = (offset + length - 1) / kChunkSize;
  for (uint64_t c = first; c <= last; ++c) {
    if (c >= _stale.size()) return _staleBeyond;
    if (_stale[c]) return true;
  }
  return false;
}

void ZorDistantLink::NoteRead(uint64_t offset, uint64_t length, uint64_t fileEnd) {
  // Whole chunks only, plus the chunk in which the file ends when the read got there.
  const uint64_t first = (offset + kChunkSize - 1) / kChunkSize;
  uint64_t end = (offset + length) / kChunkSize;
  if (fileEnd != UINT64_MAX && fileEnd % kChunkSize != 0) end = fileEnd / kChunkSize + 1;
  if (end > first) _markFresh(first, end - first);
}

void ZorDistantLink::NoteWrite(uint64_t offset, uint64_t length) {
  if (length == 0) return;
  const uint64_t first = offset / kChunkSize;
  const uint64_t last = (offset + length - 1) / kChunkSize;
  if (_pending.empty() || _pending.back().first + _pending.back().count != first ||
      _pending.back().count == kToEnd)
    _pending.push_back({first, last - first + 1});
  else
    _pending.back().count = last + 1 - _pending.back().first;
  if (_pending.size() > 4 * kMaxRunsPerPublication) _pending = _pendingRuns();
  const uint64_t whole = (offset + kChunkSize - 1) / kChunkSize;
  const uint64_t wholeEnd = (offset + length) / kChunkSize;
  if (wholeEnd > whole) _markFresh(whole, wholeEnd - whole);
}

void ZorDistantLink::NoteSize(uint64_t oldSize, uint64_t newSize) {
  if (oldSize == newSize) return;
  const uint64_t low = std::min(oldSize, newSize), high = std::max(oldSize, newSize);
  const uint64_t first = low / kChunkSize;
  _pending.push_back({first, (high + kChunkSize - 1) / kChunkSize - first});
}

}  // namespace zorvane
