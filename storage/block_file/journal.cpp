// The side journal of a copy-on-write block file: what makes a transaction
// all or nothing under kill -9, power cuts, torn sector writes and writes
// that reach the disk in any order between two flushes.
//
// Where. Beside the block file "name" lives "name.zbj". The block file's own
// bytes keep their format: after a normal close of a local file there is no
// journal, and any reader of the format reads the file as before. A file
// opened on a caller's stream has a journal only when the caller gives one.
//
// Format (little-endian). A header in the first 512 bytes, then records.
//
//   header   0  8  "ZorBJnl1"
//            8  8  salt of the generation (random, never 0)
//           16  8  offset of the generation's first record
//           24  8  applied: the last sequence the block file holds
//           32 12  identifier, file type and signature of the block file
//           44  8  the block file's update counter when the generation opened
//           60  4  CRC-32 of bytes 0..59
//   record   0  4  "ZBJr"
//            4  4  CRC-32 of bytes 16..length-1
//            8  8  length (a multiple of 8)
//           16  8  salt
//           24  8  sequence: 1, 2, 3 ... within the generation
//           32  8  the block file's logical size after the transaction
//           40  4  entry runs   44 4 pieces
//           48 980 the header image after the transaction
//         1032     runs:   first id (4), count (4), count stored entries
//                  pieces: position (8), length (4), 0 (4), the bytes
//                  (each item padded to 8 bytes)
//
// A generation is the run of records that follows one header; its records
// lie back to back from its first record on. A record is valid when its
// tag, length, salt and sequence are what the walk expects, it lies inside
// the file, its CRC matches and its items fill it exactly. The walk stops
// at the first record that is not valid.
//
// Protocol (the block file's side is in journaling.cpp).
//   Commit of a small transaction (at most 256 KiB of block data, none of
//     it written before the flush): its blocks are written into their
//     copy-on-write extents of the block file and into the record, with
//     the header image and every directory entry the transaction changed.
//     The record is appended and the journal flushed: that flush is the
//     commit point, and the only one. Then the changed entries and the
//     header are written where they live in the block file, not flushed.
//   Commit of a direct transaction (more data, or data that the cache, a
//     compaction or the growth of the directory wrote out before the
//     flush): its data are in copy-on-write extents already; the block
//     file is flushed, which makes every record applied so far durable
//     there, so the record (header and entries only) opens a new
//     generation. Two flushes, as without a journal, and no data twice.
//   Checkpoint (the generation passes a size, the file shrank, before the
//     header is written outside a commit, at a close, and after every
//     commit of a shared file): the block file is flushed and the header
//     marked applied (not flushed); the next record opens a new generation.
//     A record whose application to the block file failed is replayed
//     first.
//   Opening a new generation: its first record is placed clear of the
//     previous generation, and the header (new salt) is written after it;
//     one flush makes both durable.
//   Recovery at open, whatever the flags: a writer replays the records
//     after the applied mark into the block file, flushes it, and
//     invalidates and removes the journal (a shared file keeps it, marked
//     applied); a reader lays them over the bytes it reads and leaves the
//     journal alone.
//
// Proof. Write S(k) for the state committed by record k of the generation,
// and C for the block file's durable state when the generation opened.
//  1. C is S(0): a generation opens only after a flush of the block file
//     that followed the application of every earlier record (a checkpoint,
//     a direct commit, a recovery), or on a journal without one.
//  2. Between two flushes the block file changes only (a) in extents free
//     in the last committed state (copy-on-write placement: data go only to
//     extents the transaction placed, and extents given up become free at
//     its flush), and (b) by the application of committed records: entries
//     and header of S(j), and the pieces of record j, which are exactly the
//     data written in (a) by transaction j. So the bytes of C that S(k)
//     still uses are never touched, and every byte in which S(k) differs
//     from C was last written by one of records 1..k (a record carries the
//     whole header and every entry and block it changed).
//  3. Replaying records 1..k in order over any such image gives S(k): each
//     byte ends with its last writer's value. Replay is idempotent, and an
//     interrupted replay is simply done again. Starting after the applied
//     mark a is equivalent: the mark is written only after a flush of the
//     block file that followed the application of records 1..a.
//  4. An extent freed by record j and reused by a later transaction: if its
//     data were written as a piece of record m > j, replay writes them
//     after j's; if they were written directly, that transaction opened a
//     new generation after a flush, so j is never replayed again once its
//     record is durable, and is replayed over an uncommitted transaction's
//     bytes otherwise. The same holds for blocks the cache evicts in the
//     middle of a transaction (they make it direct).
//  5. Records are appended one at a time, each flushed before the next is
//     written: a crash damages at most the record being written, whose
//     transaction was not committed; the walk stops there (tag, salt,
//     sequence or CRC), and 3. restores the last committed state. Old
//     records are never rewritten; bytes of an older generation fail the
//     salt or the sequence.
//  6. A new generation's first record and header go out in one flush. If
//     only the header reaches the disk, its record fails the CRC and
//     nothing is replayed: the block file holds C (1.). If only the record
//     (or neither) does, the old header names the previous generation,
//     whose records are intact (placed clear of) and durable in the block
//     file: replaying them again is harmless by 3., and the new
//     transaction was not committed. A record whose write or flush failed
//     has its tag cleared durably before the journal takes another.
//  7. Damage from outside. A header that fails its CRC, or that belongs to
//     another block file (identifier, type and signature), makes the
//     journal ignored: the block file is read as it stands. So does a
//     damaged record followed by a valid record of its generation: replaying
//     only the records before it could put older entries and header over
//     what later records wrote in place. A journal cut short inside its last
//     record is a torn record (5.). A journal older than the block file is
//     ignored too: the file's update counter is none of those the
//     generation knows (see Scan), which happens when an opening that did
//     not see the journal wrote the file, or when an older copy of the
//     journal is put back. A journal cut exactly at the end of a record is
//     ignored as well: the file always ends past its last record, durably
//     (the room a record goes into is flushed before the record is
//     written), so only an outside hand leaves it ending there, and the
//     records it cut off may have written in place what replaying the
//     earlier ones would undo. Ignoring a journal never makes the block
//     file worse than having none.
//  8. A record whose application to the block file failed (a write error
//     after the commit point) is replayed with its generation before the
//     next transaction writes anything (StartTransaction), and the journal
//     keeps it until then.
//  9. Before the header is written outside a commit (compaction's crash
//     counter inside a caller's transaction, the backup mode, a close), the
//     block file is flushed and the journal header zeroed and flushed:
//     nothing is replayed over it. A compaction outside a transaction
//     raises its crash counter by a transaction that follows a checkpoint,
//     so its record opens a new generation that holds nothing but headers
//     and entries: replaying it over moved blocks is harmless (it names
//     none of their bytes), and the compaction's own record, which lowers
//     the counter, follows a flush of the moved data (a direct commit).
// 10. A kill -9 keeps every write made, in order; a write stopped half way
//     is a torn record (5.). With ZorBfOpenNoFlush only this case is
//     covered: records then carry no block data (the block file keeps
//     them), so replaying any of them rewrites entries and headers only.
#include "storage/block_file/journal.h"

#include <zorvane/stream.h>

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>

#include "platform/little_endian.h"

namespace zorvane::bfile {

namespace {

using platform::GetLE32;
using platform::GetLE64;
using platform::PutLE32;
using platform::PutLE64;

constexpr char kMagic[8] = {'Z', 'o', 'r', 'B', 'J', 'n', 'l', '1'};
constexpr char kTag[4] = {'Z', 'B', 'J', 'r'};
constexpr uint32_t kHeaderBytes = 64;
constexpr uint64_t kFirstRecord = 512;
constexpr uint32_t kPrefix = 48;
constexpr uint32_t kRecordHead = 1032;  // prefix + header image, padded
constexpr uint64_t kMinGrowth = 64u << 10, kMaxGrowth = 1u << 20;  // steps of the file's zeros
constexpr uint64_t kRoomAhead = 256u << 10;  // zeros kept ahead of the last record

uint64_t Align8(uint64_t n) { return (n + 7) & ~uint64_t(7); }

uint32_t Crc(const uint8_t* p, size_t n) {
  uLong crc = crc32(0, Z_NULL, 0);
  while (n > 0) {
    const uInt piece = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
    crc = crc32(crc, p, piece);
    p += piece;
    n -= piece;
  }
  return static_cast<uint32_t>(crc);
}

uint64_t NewSalt(uint64_t avoid) {
  std::random_device rd;
  uint64_t s = 0;
  while (s == 0 || s == avoid) s = (static_cast<uint64_t>(rd()) << 32) ^ rd();
  return s;
}

void ReadExactly(iZorStream* s, uint64_t at, void* buf, uint32_t n, bool* ok) {
  s->Seek(static_cast<int64_t>(at), ZorSeekSet);
  *ok = s->Read(buf, n) == n;
}

void WriteAt(iZorStream* s, uint64_t at, const void* buf, size_t n) {
  const auto* p = static_cast<const uint8_t*>(buf);
  while (n > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(n, 1u << 30));
    s->Seek(static_cast<int64_t>(at), ZorSeekSet);
    s->Write(p, piece);
    at += piece;
    p += piece;
    n -= piece;
  }
}

}  // namespace

// ------------------------------------------------------------ overlay

void ByteOverlay::Put(uint64_t pos, const uint8_t* data, uint32_t n) {
  if (n == 0) return;
  const uint64_t end = pos + n;
  auto it = _runs.upper_bound(pos);
  if (it != _runs.begin()) --it;
  while (it != _runs.end() && it->first < end) {
    const uint64_t start = it->first, stop = start + it->second.size();
    if (stop <= pos) {
      ++it;
      continue;
    }
    std::vector<uint8_t> bytes = std::move(it->second);
    it = _runs.erase(it);
    if (start < pos) _runs.emplace(start, std::vector<uint8_t>(bytes.begin(), bytes.begin() + (pos - start)));
    if (stop > end) it = _runs.emplace(end, std::vector<uint8_t>(bytes.begin() + (end - start), bytes.end())).first;
  }
  _runs[pos].assign(data, data + n);
}

void ByteOverlay::Patch(uint64_t pos, uint8_t* buf, uint32_t n) const {
  const uint64_t end = pos + n;
  auto it = _runs.upper_bound(pos);
  if (it != _runs.begin()) --it;
  for (; it != _runs.end() && it->first < end; ++it) {
    const uint64_t from = std::max(pos, it->first), to = std::min(end, it->first + it->second.size());
    if (from < to) std::memcpy(buf + (from - pos), it->second.data() + (from - it->first), to - from);
  }
}

JournalOwner OwnerOf(const uint8_t* header) {
  return {GetLE32(header + kZorBfHdrGuid), GetLE32(header + kZorBfHdrFileType), GetLE32(header + kZorBfHdrSignature),
          GetLE64(header + kZorBfHdrUpdate)};
}

void OverlaySink::Apply(const JournalRecord& r) {
  for (const JournalRecord::Piece& p : r.pieces) _o.Put(p.pos, p.bytes, p.length);
  for (const JournalRecord::Entries& e : r.entries)
    _o.Put(kZorBfHeaderSize + uint64_t(e.first - 1) * kZorBfEntrySize, e.bytes,
           static_cast<uint32_t>(e.count) * kZorBfEntrySize);
  _o.Put(0, r.header, kZorBfHeaderSize);
  size = r.fileSize;
  ++records;
}

// ------------------------------------------------------------ journal

Journal::Journal(iZorStream* stream, bool owned, const JournalOwner& owner)
    : _stream(stream), _owned(owned), _owner(owner) {}

Journal::~Journal() {
  if (!_owned || !_stream) return;
  try {
    _stream->Unlock();
  } catch (...) {
  }
}

// ------------------------------------------------------------ header

// The header: false when it is missing or damaged. *owned tells whether it
// names the block file's identity.
bool Journal::_readHeader(uint64_t* salt, uint64_t* start, uint64_t* applied, bool* owned, uint64_t* base) {
  uint8_t h[kHeaderBytes];
  bool ok = false;
  *owned = false;
  if (_stream->GetSize() < kFirstRecord) return false;
  ReadExactly(_stream, 0, h, kHeaderBytes, &ok);
  if (!ok || std::memcmp(h, kMagic, sizeof kMagic) != 0 || GetLE32(h + 60) != Crc(h, 60)) return false;
  *owned = GetLE32(h + 32) == _owner.guid && GetLE32(h + 36) == _owner.fileType &&
           GetLE32(h + 40) == _owner.signature;
  *salt = GetLE64(h + 8);
  *start = GetLE64(h + 16);
  *applied = GetLE64(h + 24);
  if (base) *base = GetLE64(h + 44);
  return *salt != 0 && *start >= kFirstRecord && *start % 8 == 0;
}

void Journal::_writeHeader(uint64_t applied) {
  uint8_t h[kHeaderBytes] = {};
  std::memcpy(h, kMagic, sizeof kMagic);
  PutLE64(h + 8, _salt);
  PutLE64(h + 16, _start);
  PutLE64(h + 24, applied);
  PutLE32(h + 32, _owner.guid);
  PutLE32(h + 36, _owner.fileType);
  PutLE32(h + 40, _owner.signature);
  PutLE64(h + 44, _base);
  PutLE32(h + 60, Crc(h, 60));
  WriteAt(_stream, 0, h, kHeaderBytes);
}

// ------------------------------------------------------------ reading

// Reads the record expected at `at` (not past limit) whole into out; false
// when it is not a valid record of the generation.
bool Journal::_readRecord(uint64_t at, uint64_t limit, uint64_t sequence, std::vector<uint8_t>* out) {
  if (at + kRecordHead > limit) return false;
  uint8_t p[kPrefix];
  bool ok = false;
  ReadExactly(_stream, at, p, kPrefix, &ok);
  if (!ok || std::memcmp(p, kTag, sizeof kTag) != 0) return false;
  const uint64_t length = GetLE64(p + 8);
  if (length < kRecordHead || length % 8 != 0 || length > limit - at || length > 0xFFFFFFFFu) return false;
  if (GetLE64(p + 16) != _salt || GetLE64(p + 24) != sequence) return false;
  out->resize(static_cast<size_t>(length));
  std::memcpy(out->data(), p, kPrefix);
  ReadExactly(_stream, at + kPrefix, out->data() + kPrefix, static_cast<uint32_t>(length - kPrefix), &ok);
  return ok && GetLE32(p + 4) == Crc(out->data() + 16, static_cast<size_t>(length - 16));
}

// The items of a record whose CRC matched; false when they do not fill it
// exactly or name what no block file holds.
bool Journal::_parse(const std::vector<uint8_t>& rec, JournalRecord* out) {
  const uint8_t* p = rec.data();
  const size_t length = rec.size();
  out->sequence = GetLE64(p + 24);
  out->fileSize = GetLE64(p + 32);
  out->header = p + kPrefix;
  out->entries.clear();
  out->pieces.clear();
  const uint32_t runs = GetLE32(p + 40), pieces = GetLE32(p + 44);
  size_t off = kRecordHead;
  for (uint32_t i = 0; i < runs; ++i) {
    if (length - off < 8) return false;
    const uint32_t first = GetLE32(p + off), count = GetLE32(p + off + 4);
    const uint64_t bytes = uint64_t{count} * kZorBfEntrySize;
    if (first < 1 || count > kZorBfMaxEntries || first - 1 + uint64_t{count} > kZorBfMaxEntries ||
        Align8(bytes) > length - off - 8)
      return false;
    out->entries.push_back({static_cast<int32_t>(first), static_cast<int32_t>(count), p + off + 8});
    off += 8 + Align8(bytes);
  }
  for (uint32_t i = 0; i < pieces; ++i) {
    if (length - off < 16) return false;
    const uint64_t pos = GetLE64(p + off);
    const uint32_t n = GetLE32(p + off + 8);
    if (Align8(n) > length - off - 16 || pos + n >= kZorBfPositionLimit || pos < kZorBfHeaderSize) return false;
    out->pieces.push_back({pos, n, p + off + 16});
    off += 16 + Align8(n);
  }
  return off == length;
}

// Walks the records of the generation from its start, handing each valid
// one to visit; returns where the walk stopped.
template <class Visit>
uint64_t Journal::_walk(Visit visit) {
  const uint64_t limit = _stream->GetSize();
  std::vector<uint8_t> rec;
  JournalRecord r;
  uint64_t at = _start, sequence = 0;
  while (_readRecord(at, limit, sequence + 1, &rec) && _parse(rec, &r)) {
    ++sequence;
    visit(r);
    at += rec.size();
  }
  _sequence = sequence;
  return at;
}

// A journal is the block file's when its header names the file, or when one
// of its records does: a checkpoint interrupted after writing the header of
// a record that changed the identity leaves the file with that header.
JournalScan Journal::Scan(RecordSink* sink, uint64_t from) {
  JournalScan scan;
  Abandon();
  uint64_t salt = 0, start = 0, applied = 0, base = 0;
  bool owned = false;
  const bool valid = _readHeader(&salt, &start, &applied, &owned, &base);
  _base = valid ? base : 0;
  _salt = valid ? salt : 0;
  _start = _end = valid ? start : kFirstRecord;
  _sequence = _applied = 0;
  _fresh = true;
  _prevStart = _prevEnd = 0;
  // Every zero extension is flushed by the commit that wrote it: the size
  // found is durable.
  _allocated = _durable = _stream->GetSize();
  if (!valid) {
    // A header that is not zeroed (a finished journal's) is damaged.
    uint8_t h[kHeaderBytes] = {};
    bool ok = false;
    if (_stream->GetSize() >= kHeaderBytes) ReadExactly(_stream, 0, h, kHeaderBytes, &ok);
    if (ok && std::any_of(h, h + kHeaderBytes, [](uint8_t b) { return b != 0; })) scan.state = JournalScan::kForeign;
    return scan;
  }
  auto sameOwner = [this](const uint8_t* h) {
    return GetLE32(h + kZorBfHdrGuid) == _owner.guid && GetLE32(h + kZorBfHdrFileType) == _owner.fileType &&
           GetLE32(h + kZorBfHdrSignature) == _owner.signature;
  };
  // The update counters the generation knows: the one it opened on and
  // each record's (all alike, but for an emptying that resets it).
  std::vector<uint64_t> counters{base};
  _end = _walk([&](const JournalRecord& r) {
    owned = owned || sameOwner(r.header);
    const uint64_t c = GetLE64(r.header + kZorBfHdrUpdate);
    if (std::find(counters.begin(), counters.end(), c) == counters.end()) counters.push_back(c);
  });
  // While a generation lasts, the header on disk is the one it opened on
  // (durable then) or one of its records' (a header written outside a
  // commit zeroes the journal first), so its update counter is one of
  // theirs. Every opening that writes the block file raises the counter at
  // its first header write, durably before any record carries it; an
  // opening that ignored this journal therefore left a counter the
  // generation does not know, and so does an older copy of the journal put
  // back beside a newer file. Replaying it would put older entries over
  // newer ones. The counter lies in the first sector, so a torn header
  // write cannot change it.
  const bool stale = owned && _sequence > 0 &&
                     std::find(counters.begin(), counters.end(), _owner.update) == counters.end();
  if (!owned || stale) {
    scan.state = stale ? JournalScan::kStale : JournalScan::kForeign;
    _salt = 0;
    _sequence = 0;
    _start = _end = kFirstRecord;
    return scan;
  }
  // A torn record: its prefix names this generation and the next sequence.
  uint8_t p[kPrefix];
  bool ok = false;
  if (_end + kPrefix <= _stream->GetSize()) {
    ReadExactly(_stream, _end, p, kPrefix, &ok);
    scan.tornTail = ok && std::memcmp(p, kTag, sizeof kTag) == 0 && GetLE64(p + 16) == _salt &&
                    GetLE64(p + 24) == _sequence + 1;
  }
  // A journal that ends exactly where its last record ends was cut there
  // from outside (the file always ends past its last record, see
  // _makeRoom): records that followed may be missing, and replaying those
  // before the cut could put older entries and header over what they
  // wrote in place. The journal is not used.
  const bool cut = _sequence > 0 && _stream->GetSize() == _end;
  if (cut || _laterRecord(_end, _sequence + 1)) {
    // Or damage inside the generation, not a torn last record: replaying the
    // records before it could take the block file back behind what later
    // records put there. The journal is not used.
    scan.state = cut ? JournalScan::kCut : JournalScan::kForeign;
    _salt = 0;
    _sequence = 0;
    _start = _end = kFirstRecord;
    _fresh = true;
    return scan;
  }
  _applied = std::min(applied, _sequence);
  // A generation the block file holds whole is done with: the next record
  // opens a new one, so that its header tells every sharer of a new commit.
  _fresh = _applied == _sequence;
  _prevStart = _sequence ? _start : 0;
  _prevEnd = _sequence ? _end : 0;
  scan.state = _sequence ? JournalScan::kValid : JournalScan::kEmpty;
  scan.records = _sequence;
  scan.applied = _applied;
  scan.bytes = _end - _start;
  scan.start = _start;
  scan.end = _end;
  // Last, so that a sink that raises leaves the journal's state whole.
  if (from == kUnapplied) from = applied;
  if (sink) {
    _walk([&](const JournalRecord& r) {
      if (r.sequence > from) sink->Apply(r);
    });
  }
  return scan;
}

// Whether a valid record of the generation with a sequence past `next`
// lies after `at`, where the walk stopped: looked for only when the bytes
// there name the generation (a torn or damaged record).
bool Journal::_laterRecord(uint64_t at, uint64_t next) {
  uint8_t p[kPrefix];
  bool ok = false;
  const uint64_t limit = _stream->GetSize();
  if (at + kPrefix > limit) return false;
  ReadExactly(_stream, at, p, kPrefix, &ok);
  if (!ok || (GetLE64(p + 16) != _salt && (std::memcmp(p, kTag, sizeof kTag) != 0 || GetLE64(p + 24) != next)))
    return false;
  constexpr uint64_t kChunk = 1u << 20;
  std::vector<uint8_t> buf;
  std::vector<uint8_t> rec;
  for (uint64_t from = at + 8; from + kPrefix <= limit; from += kChunk) {
    const uint64_t n = std::min(kChunk + kPrefix, limit - from);
    buf.resize(static_cast<size_t>(n));
    ReadExactly(_stream, from, buf.data(), static_cast<uint32_t>(n), &ok);
    if (!ok) return false;
    for (uint64_t k = 0; k + kPrefix <= n && k < kChunk; k += 8) {
      const uint8_t* q = buf.data() + k;
      if (std::memcmp(q, kTag, sizeof kTag) != 0 || GetLE64(q + 16) != _salt || GetLE64(q + 24) <= next) continue;
      if (_readRecord(from + k, limit, GetLE64(q + 24), &rec)) return true;
    }
  }
  return false;
}

// ------------------------------------------------------------ writing

void Journal::_put(std::vector<uint8_t>* to, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  to->insert(to->end(), p, p + n);
  to->resize(Align8(to->size()), 0);
}

void Journal::Begin() {
  _record.assign(kRecordHead, 0);
  std::memcpy(_record.data(), kTag, sizeof kTag);
  _pieceItems.clear();
  _pieceBytes = 0;
  _building = true;
}

void Journal::AddEntries(int32_t first, int32_t count, const uint8_t* stored) {
  uint8_t item[8];
  PutLE32(item, static_cast<uint32_t>(first));
  PutLE32(item + 4, static_cast<uint32_t>(count));
  _put(&_record, item, 8);
  _put(&_record, stored, size_t(count) * kZorBfEntrySize);
  PutLE32(_record.data() + 40, GetLE32(_record.data() + 40) + 1);
}

// Pieces come after the runs in a record: they wait apart until Commit.
void Journal::AddPiece(uint64_t pos, const void* data, uint32_t n) {
  uint8_t item[16] = {};
  PutLE64(item, pos);
  PutLE32(item + 8, n);
  _put(&_pieceItems, item, 16);
  _put(&_pieceItems, data, n);
  _pieceBytes += n;
  PutLE32(_record.data() + 44, GetLE32(_record.data() + 44) + 1);
}

// The place of a generation's first record of `length` bytes: the start of
// the room when it ends before the previous generation, else right after it.
uint64_t Journal::_placeFirst(uint64_t length) const {
  if (_prevEnd == 0 || kFirstRecord + length <= _prevStart) return kFirstRecord;
  return Align8(std::max(_prevEnd, kFirstRecord));
}

// A commit that fails leaves the journal as it was: the retry takes the
// same place (a later record) or draws a new salt and place (a first one).
// Either way whatever the failed attempt left is overwritten, or lies in a
// generation that no durable header names together with later records.
void Journal::Commit(const uint8_t* header, uint64_t fileSize, bool flush, uint64_t baseUpdate) {
  if (!_building) Begin();
  _record.insert(_record.end(), _pieceItems.begin(), _pieceItems.end());
  _pieceItems.clear();
  std::memcpy(_record.data() + kPrefix, header, kZorBfHeaderSize);
  PutLE64(_record.data() + 32, fileSize);
  const bool opens = _fresh;
  const uint64_t salt = opens ? NewSalt(_salt) : _salt;
  const uint64_t at = opens ? _placeFirst(_record.size()) : _end;
  const uint64_t sequence = opens ? 1 : _sequence + 1;
  uint8_t* p = _record.data();
  PutLE64(p + 8, _record.size());
  PutLE64(p + 16, salt);
  PutLE64(p + 24, sequence);
  PutLE32(p + 4, Crc(p + 16, _record.size() - 16));
  Scrub();
  try {
    _makeRoom(at + _record.size(), flush);
    WriteAt(_stream, at, p, _record.size());
    if (opens) {
      // The record first: a process killed between the two writes leaves
      // the previous header, whose records are whole.
      const uint64_t oldSalt = _salt, oldStart = _start, oldBase = _base;
      _salt = salt;
      _start = at;
      _base = baseUpdate;
      struct Restore {
        Journal* j;
        uint64_t salt, start, base;
        ~Restore() {
          j->_salt = salt;
          j->_start = start;
          j->_base = base;
        }
      } restore{this, oldSalt, oldStart, oldBase};
      _writeHeader(0);
    }
    if (flush) _stream->Flush();
    _durable = _allocated;
  } catch (...) {
    _scrubAt = at;
    try {
      Scrub();
    } catch (...) {
    }
    throw;
  }
  // Committed.
  if (opens) {
    _salt = salt;
    _start = at;
    _base = baseUpdate;
    _end = at;
    _sequence = 0;
    _applied = 0;
    _fresh = false;
  }
  _sequence = sequence;
  _end += _record.size();
  _building = false;
  _record.clear();
}

// Records go into space the file already holds: zeros written ahead of
// them, so that the flush of a record changes no file size (a size change
// makes each flush also commit the file system's metadata). The zeros end
// any walk that reaches them.
//
// The file also always ends past its last record, durably: the room a
// record goes into was flushed before the record was written (by an earlier
// commit, which wrote zeros ahead, or here). So a journal that ends exactly
// where a valid record ends was cut there by an outside hand (see Scan).
void Journal::_makeRoom(uint64_t recordEnd, bool flush) {
  if (recordEnd >= _durable) {
    _preallocate(recordEnd);
    if (flush) _stream->Flush();
    _durable = _allocated;
  } else if (_allocated - recordEnd < kRoomAhead) {
    _preallocate(recordEnd + kRoomAhead);  // made durable by this commit's flush
  }
}

// Makes the file longer than `end` with zeros past its present size.
void Journal::_preallocate(uint64_t end) {
  if (end < _allocated) return;
  _allocated = std::max(_allocated, _stream->GetSize());
  if (end < _allocated) return;
  const uint64_t step = std::clamp(std::bit_floor(end), kMinGrowth, kMaxGrowth);
  const uint64_t target = (end + step) & ~(step - 1);
  static const uint8_t zeros[65536] = {};
  while (_allocated < target) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof zeros, target - _allocated));
    WriteAt(_stream, _allocated, zeros, n);
    _allocated += n;
  }
}

// A record whose write or flush failed may still reach the disk later,
// whole, and would then be replayed although its transaction was rolled
// back, over extents that later transactions reuse. Its tag is cleared
// durably before anything else is written: now, or when the block file
// starts its next transaction (which fails while this cannot be done).
void Journal::Scrub() {
  if (_scrubAt == 0) return;
  const uint8_t zeros[sizeof kTag] = {};
  WriteAt(_stream, _scrubAt, zeros, sizeof zeros);
  _stream->Flush();
  _scrubAt = 0;
}

void Journal::Abandon() {
  _building = false;
  _record.clear();
  _pieceItems.clear();
  _pieceBytes = 0;
}

// ------------------------------------------------------------ checkpoints

bool Journal::HeaderMoved() {
  uint64_t salt = 0, start = 0, applied = 0;
  bool owned = false;
  if (!_readHeader(&salt, &start, &applied, &owned, nullptr)) return _salt != 0;
  return salt != _salt || start != _start || applied != _applied;
}

void Journal::MarkApplied() {
  if (_sequence == 0 || _applied == _sequence) {
    _fresh = true;
    return;
  }
  _writeHeader(_sequence);
  _applied = _sequence;
  _fresh = true;
  _prevStart = _start;
  _prevEnd = _end;
}

void Journal::Invalidate(bool flush) {
  const uint8_t zeros[kHeaderBytes] = {};
  WriteAt(_stream, 0, zeros, kHeaderBytes);
  if (flush) _stream->Flush();
  _salt = 0;
  _sequence = _applied = 0;
  _start = _end = kFirstRecord;
  _fresh = true;
  _prevStart = _prevEnd = 0;
}

}  // namespace zorvane::bfile
