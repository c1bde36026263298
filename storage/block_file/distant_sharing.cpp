// Block files shared by several processes ("distant" files: a network drive,
// or any file while ZorSetForceDistant is on).
//
// Protocol. Each process keeps its own header image, directory and cache.
// The stream serialises the processes: commands 2 and 3 bracket exclusive
// access (shared for a read-only stream), and inside command 2 the stream
// calls _onStreamChanged when another process may have written since this
// one last held the file; IsRangeChanged then tells which byte ranges may
// differ from what this process last read or wrote. Outermost transactions
// take the bracket (StartTransaction / EndTransaction), so every
// transaction starts from the state the previous one published and
// publishes whole: block data, then directory, then header, then command 3.
//
// Readers. A read made outside a transaction (BRead, BGetSize, the header
// getters ...) takes the bracket around itself through _readScope: it
// revalidates first and therefore sees the last committed transaction
// whole, never half of one being flushed. A read-only stream takes the
// bracket shared, so readers do not wait for each other, only for writers.
// Several reads that must agree with each other belong in one transaction:
// between two bracketed reads another process may commit. The same holds
// for read-modify-write: BRead, change, BWrite outside a transaction may
// lose another process's update made in between (the revalidation at the
// BWrite's own transaction re-reads a held block in place).
//
// Revalidation (_onStreamChanged). When neither the header nor the
// directory region changed, only cached blocks whose data region changed
// are refreshed. Otherwise the header and the whole directory are read
// again; a cached block survives when it is still used at the same place
// with the same size and unchanged data. When the stream cannot tell what
// changed (a process died inside its bracket, among others), a writer also
// cuts off the end of the file that no entry covers: blocks the dead
// process appended and never committed. It does so at the start of its
// next transaction, after the journal's catch-up: before it, the directory
// may lack what the dead process committed. Refreshing a block drops it when
// only the cache references it; a block a caller holds (BRead shares the
// cached memory) is re-read into the same handle, so the caller sees the
// new bytes. A held block that was deleted by the other process, or whose
// new size would move memory the caller has locked, is detached from the
// cache instead: the caller keeps the old bytes, the next BRead reads anew.
// No block is dirty at revalidation: the callback runs when the bracket is
// taken, at the start of an outermost transaction or of a read, and dirty
// blocks exist only inside transactions.
//
// Differential writes (_writeRange). Block data and the directory range of
// a flush reach a distant file in chunks of the stream's preferred size
// (2,048 when it has none, clamped to 1,024..32,768), aligned on that size.
// A chunk the stream reports unchanged is read back and compared; identical
// chunks are skipped, so a transaction that rewrites the whole directory
// range for two changed entries writes two chunks. A chunk that another
// process may have changed is written without comparing, and so is a chunk
// at or past the end of the file. Adjacent chunks to write go out in one
// write. Compare-only mode (BWrite of a block at unchanged length) writes
// nothing and tells whether any chunk differs, so an unchanged rewrite
// leaves the block clean.
#include <zorvane/block_file.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/block_space.h"

namespace zorvane {

namespace {

constexpr uint32_t kDefaultChunk = 2048;
constexpr uint32_t kMinChunk = 1024;
constexpr uint32_t kMaxChunk = 32768;
constexpr char kMagic[8] = {'Z', 'o', 'r', 'B', 'F', 'i', 'l', 'e'};

using Rep = ZorBFile::Rep;

struct DistantSync {
  // ------------------------------------------------------------ chunks
  static uint32_t ChunkSize(Rep& f) {
    const uint32_t preferred = f._stream->GetChunkSize();
    return preferred == 0 ? kDefaultChunk : std::clamp(preferred, kMinChunk, kMaxChunk);
  }

  // Whether the file holds exactly data[0, n) at pos. Only asked of ranges
  // the stream does not report changed by another process.
  static bool SameOnDisk(Rep& f, uint64_t pos, const uint8_t* data, uint32_t n, std::vector<uint8_t>* buf) {
    if (f._stream->IsRangeChanged(static_cast<int64_t>(pos), n)) return false;
    buf->resize(n);
    f._stream->Seek(static_cast<int64_t>(pos), ZorSeekSet);
    return f._stream->Read(buf->data(), n) == n && memcmp(buf->data(), data, n) == 0;
  }

  static void WriteOut(Rep& f, uint64_t from, uint64_t to, uint64_t pos, const uint8_t* src) {
    if (to <= from) return;
    f._stream->Seek(static_cast<int64_t>(from), ZorSeekSet);
    f._stream->Write(src + (from - pos), static_cast<uint32_t>(to - from));
  }

  // The differential write (see the file comment); true when a chunk differed.
  static bool WriteRange(Rep& f, uint64_t pos, const uint8_t* src, uint32_t n, bool compareOnly) {
    const uint32_t chunk = ChunkSize(f);
    const uint64_t fileEnd = f._stream->GetSize();
    const uint64_t end = pos + n;
    std::vector<uint8_t> buf;
    bool differs = false;
    uint64_t runFrom = pos, runTo = pos;  // chunks to write, not yet written
    for (uint64_t at = pos; at < end;) {
      const uint64_t next = std::min(end, (at / chunk + 1) * chunk);
      const auto len = static_cast<uint32_t>(next - at);
      if (next > fileEnd || !SameOnDisk(f, at, src + (at - pos), len, &buf)) {
        differs = true;
        if (compareOnly) return true;
        if (runTo != at) {
          WriteOut(f, runFrom, runTo, pos, src);
          runFrom = at;
        }
        runTo = next;
      }
      at = next;
    }
    WriteOut(f, runFrom, runTo, pos, src);
    return differs;
  }

  // ------------------------------------------------------------ blocks
  static bool DataChanged(Rep& f, const sZorBfBRef& e) {
    return e.size != 0 && e.HasPos() && f._stream->IsRangeChanged(static_cast<int64_t>(e.GetPos()), e.size);
  }

  // Whether a block whose stored bytes changed leaves the cache (only the
  // cache holds it) rather than being re-read in place.
  static bool CanDrop(Rep& f, int32_t id) {
    const handle_t* h = f._cached(id);
    return ZorGetRefCount(h) == 1 && ZorIsHandlePurgeable(h);
  }

  static void Refresh(Rep& f, int32_t id) {
    assert(!(f._entry(id).flags & ZorBfFlagDirty));
    if (CanDrop(f, id))
      f._dropCached(id);
    else
      f._reloadBlock(id);
  }

  // Header and directory unchanged: only the data of cached blocks may differ.
  static void RefreshChangedBlocks(Rep& f) {
    for (int32_t id = 1; id <= f._dirCount(); ++id)
      if (f._cached(id) && DataChanged(f, f._entry(id))) Refresh(f, id);
  }

  // ------------------------------------------------------------ directory
  static void ReadHeader(Rep& f, uint8_t* header) {
    f._readAt(0, header, kZorBfHeaderSize);
    if (memcmp(header + kZorBfHdrMagic, kMagic, sizeof kMagic) != 0) f._raiseInternal(2);
  }

  // The directory as the file holds it for the header's count. With
  // withHeader, header and directory are read again in one piece, so that
  // the stream knows the chunks they cover whole as current and the next
  // revalidation does not take them for changed; the header comes from
  // that read.
  static std::vector<sZorBfBRef> ReadDirectory(Rep& f, uint8_t* header, bool withHeader) {
    const uint32_t count = platform::GetLE32(header + kZorBfHdrDirCount);
    const uint64_t bytes = uint64_t{count} * kZorBfEntrySize;
    // Another process left what this one cannot read as a directory.
    if (count > kZorBfMaxEntries || kZorBfHeaderSize + bytes > f._stream->GetSize())
      ZorRaise(bfile::kSource, ZorErr(1, 32), &f._path);
    const uint32_t from = withHeader ? 0u : static_cast<uint32_t>(kZorBfHeaderSize);
    std::vector<uint8_t> raw(kZorBfHeaderSize - from + bytes);
    f._readAt(from, raw.data(), static_cast<uint32_t>(raw.size()));
    const uint8_t* entries = raw.data() + (kZorBfHeaderSize - from);
    if (withHeader) {
      memcpy(header, raw.data(), kZorBfHeaderSize);
      if (platform::GetLE32(header + kZorBfHdrDirCount) != count) f._raiseInternal(2);
    }
    std::vector<sZorBfBRef> dir(count);
    for (uint32_t i = 0; i < count; ++i) dir[i].Load(entries + size_t{i} * kZorBfEntrySize);
    return dir;
  }

  enum class Fate { kKeep, kReload, kDrop };

  // What becomes of a cached block when the directory is replaced by dir.
  static Fate FateOf(Rep& f, int32_t id, const std::vector<sZorBfBRef>& dir) {
    if (static_cast<size_t>(id) > dir.size()) return Fate::kDrop;
    const sZorBfBRef& now = dir[static_cast<size_t>(id - 1)];
    if (now.IsFree()) return Fate::kDrop;
    const sZorBfBRef& was = f._entry(id);
    if (now.size == was.size && now.GetPos() == was.GetPos() && !DataChanged(f, now)) return Fate::kKeep;
    return CanDrop(f, id) ? Fate::kDrop : Fate::kReload;
  }

  // Replaces header and directory by what the file holds; cached blocks
  // are kept, re-read or dropped as the new entries say.
  static void Reload(Rep& f, bool headerChanged) {
    uint8_t header[kZorBfHeaderSize];
    if (headerChanged)
      ReadHeader(f, header);
    else
      memcpy(header, f._header, sizeof header);
    std::vector<sZorBfBRef> dir = ReadDirectory(f, header, headerChanged);
    std::vector<int32_t> keep, reload;
    for (int32_t id = 1; id <= f._dirCount(); ++id) {
      if (!f._cached(id)) continue;
      switch (FateOf(f, id, dir)) {
        case Fate::kKeep: keep.push_back(id); break;
        case Fate::kReload: reload.push_back(id); break;
        case Fate::kDrop: f._dropCached(id); break;
      }
    }
    Install(f, header, std::move(dir));
    for (const int32_t id : reload) f._reloadBlock(id);
    for (const int32_t id : keep) f._touch(id);
    f._sendMsg(0);
  }

  static void Install(Rep& f, const uint8_t* header, std::vector<sZorBfBRef> dir) {
    f._dir = std::move(dir);
    f._cache.resize(f._dir.size(), nullptr);
    memcpy(f._header, header, kZorBfHeaderSize);
    f._state &= ~Rep::kHeaderDirty;
    f._clearChanged();
    f._dropFreeLists();
    f._spaceLists()->CompactRecency([&f](int32_t index) {
      return static_cast<size_t>(index) < f._cache.size() && f._cache[static_cast<size_t>(index)] != nullptr;
    });
    // What the file holds is the committed state now: a transaction that
    // fails in this bracket goes back to it, not to this process's last.
    f._saveCommitted();
  }
};

}  // namespace

void ZorBFile::Rep::_streamChangedThunk(void* context, iZorStream*, bool everything) {
  static_cast<Rep*>(context)->_onStreamChanged(everything);
}

void ZorBFile::Rep::_onStreamChanged(bool everything) {
  // During Open the header is not read yet: what it reads will be current.
  if (!_stream || memcmp(_header + kZorBfHdrMagic, kMagic, sizeof kMagic) != 0) return;
  _fileSize = 0;
  const bool header = everything || _stream->IsRangeChanged(0, kZorBfHeaderSize);
  const uint64_t dirBytes = uint64_t(_dirCount()) * kZorBfEntrySize;
  const bool directory =
      everything || (dirBytes != 0 && _stream->IsRangeChanged(kZorBfHeaderSize, static_cast<uint32_t>(dirBytes)));
  if (header || directory)
    DistantSync::Reload(*this, header);
  else
    DistantSync::RefreshChangedBlocks(*this);
  // The cut waits for the transaction's start: a dead writer's committed
  // transaction may still be in the journal only, its blocks past the end
  // the directory knows.
  if (everything && IsWriteEnable()) _trimTailPending = true;
}

void ZorBFile::Rep::_trimDeadWritersTail() {
  if (!_trimTailPending) return;
  _trimTailPending = false;
  _cutUncoveredTail();
}

// Re-reads a cached block into its own handle, so that a caller sharing it
// sees the stored bytes. Memory a caller has locked is never moved: when
// the stored size would need that, the cache lets the block go instead.
void ZorBFile::Rep::_reloadBlock(int32_t id) {
  handle_t* h = _cached(id);
  const sZorBfBRef& e = _entry(id);
  const bool moves = e.size != h->size && (h->foreign || e.size > h->capacity || e.size < h->capacity / 4);
  if (moves && ZorIsHandleLocked(h)) {
    _dropCached(id);
    return;
  }
  ZorSetHandleSize(h, e.size);
  if (e.size != 0 && e.HasPos()) _readAt(e.GetPos(), ZorGetHandleDatas(h), e.size);
  _touch(id);
  _sendMsg(id);
}

bool ZorBFile::Rep::_beginRead() const {
  if (!_stream || !IsDistant() || _depth != 0 || _readDepth > 0) return false;
  ++_readDepth;
  try {
    _stream->BeginExclusive();
  } catch (...) {
    --_readDepth;
    throw;
  }
  return true;
}

void ZorBFile::Rep::_endRead() const {
  --_readDepth;
  // Called from a scope's destructor: the stream releases its lock even
  // when publishing fails, and a read has nothing to publish.
  try {
    _stream->EndExclusive();
  } catch (...) {
  }
}

bool ZorBFile::Rep::_writeRange(int64_t pos, const void* data, uint32_t n, bool compareOnly) {
  if (!IsDistant()) {
    if (compareOnly) return true;
    _stream->Seek(pos, ZorSeekSet);
    _stream->Write(data, n);
    return true;
  }
  return DistantSync::WriteRange(*this, static_cast<uint64_t>(pos), static_cast<const uint8_t*>(data), n,
                                 compareOnly);
}

}  // namespace zorvane
