// The side journal of a copy-on-write block file: what makes a transaction
// all or nothing under kill -9, power cuts, torn sector writes and writes
// that reach the disk in any order between two flushes.
//
// Where. Beside the block file "name" lives "name.zbj" (the block file's own
// bytes keep their format: after a normal close of a local file there is no
// journal, and a reader that knows nothing of it reads the last checkpoint,
// a consistent committed state). A file opened on a caller's stream has a
// journal only when the caller gives one.
//
// Format (little-endian). A header in the first 512 bytes, then records.
//
//   header   0  8  "ZorBJnl1"
//            8  8  salt of the generation (random, never 0)
//           16  8  offset of the generation's first record
//           24  8  applied: the last sequence the block file holds
//           32 12  identifier, file type and signature of the block file
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
// Protocol (the block file's side is in transactions.cpp).
//   Commit: the record holds the header image, every directory entry the
//     transaction changed, and, for a transaction of at most 256 KiB of
//     block data that wrote nothing into the block file before its end,
//     that data (the pieces). A larger transaction (or one whose cache
//     wrote blocks out in its course) writes its data into copy-on-write
//     extents of the block file and flushes the block file first. Then the
//     record is written, and the journal flushed: that flush is the commit
//     point. The block file is not touched at commit (a shared file applies
//     the record at once, see Checkpoint): until the next checkpoint,
//     reads of a piece's block come from the journal.
//   Checkpoint: replay the generation into the block file (header, entries,
//     pieces, then its logical size), flush the block file, mark the header
//     applied. The next record opens a new generation: its header (new
//     salt) goes out with it, in the same flush, and it is placed where it
//     cannot overwrite any byte of the generation just checkpointed.
//   Recovery at open, whatever the flags: a writer replays the records the
//     block file does not hold, flushes the block file, and invalidates and
//     removes the journal (a shared file keeps it, marked applied); a
//     reader replays them into memory and leaves the journal.
//
// Proof. Write S(k) for the state committed by record k, C for the state of
// the block file at the last checkpoint (durable there: the checkpoint
// flushed it).
//  1. Between checkpoints the block file changes only in extents that are
//     free in the last committed state (copy-on-write placement; data only
//     ever go to extents the transaction placed) and, in a shared file, by
//     replaying committed records. So the bytes of C that S(k) still uses
//     stay intact, and every byte of S(k) that differs from C was written
//     by some record 1..k, by the last record that wrote it (records carry
//     the whole header, every changed entry, every piece), or by a direct
//     data write flushed before record k committed.
//  2. Replay of records a..k over a block file that holds C plus any
//     subset of the writes above gives S(k) whenever a is at most one past
//     the last record the block file is known to hold: each byte ends with
//     its last writer's value. Replay is idempotent, so a checkpoint or a
//     recovery interrupted at any point is simply done again.
//  3. A direct data write never lands on a piece of the current generation
//     (placement refuses extents that pieces cover): otherwise replaying
//     the older piece would overwrite committed data that no later record
//     repeats. Extents freed by a committed transaction may be reused by a
//     later one: replay always runs to the last valid record, so a piece
//     written there later wins over the older one.
//  4. Records are appended one at a time, each flushed before the next is
//     written: a crash can damage only the record being written, whose
//     transaction was not committed; the walk stops there and the block
//     file, never touched by that transaction outside free extents, holds
//     C plus what 2. restores. Old records of the same generation are never
//     rewritten; bytes of an older generation fail the salt.
//  5. A new generation's header is written with its first record, in one
//     flush. Until that flush completes the header on disk may still name
//     the previous generation, whose records are intact (the new record is
//     placed clear of them) and all in the block file (the checkpoint
//     flushed it): replaying them again changes nothing. Any earlier
//     generation's header is gone for good, since the previous one was
//     written and flushed with its first record. A direct write made after
//     the checkpoint may be clobbered by such a replay, but it belongs to a
//     transaction whose record, hence whose header, is not durable: it was
//     not committed.
//  6. A journal that is torn, truncated or damaged gives a shorter valid
//     walk: the replay reaches an older committed state S(j), still whole,
//     never older than C, which is what the block file holds without it. A
//     header that fails its CRC, or belongs to another block file (its
//     identifier, type and signature), makes the journal ignored.
//  7. Unflushed journal and block-file writes after a kill -9 are all
//     there, in the order they were made (the page cache is one); a write
//     stopped half way is a torn record, case 4. With ZorBfOpenNoFlush only
//     this case is covered.
#include "storage/block_file/journal.h"

#include <zorvane/stream.h>

#include <zlib.h>

#include <algorithm>
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
bool Journal::_readHeader(uint64_t* salt, uint64_t* start, uint64_t* applied, bool* owned) {
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
bool Journal::_parse(const std::vector<uint8_t>& rec, uint64_t at, JournalRecord* out) {
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
    out->pieces.push_back({pos, n, at + off + 16, p + off + 16});
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
  while (_readRecord(at, limit, sequence + 1, &rec) && _parse(rec, at, &r)) {
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
JournalScan Journal::Scan(RecordSink* sink, uint64_t from, bool index) {
  JournalScan scan;
  _forgetPieces();
  Abandon();
  uint64_t salt = 0, start = 0, applied = 0;
  bool owned = false;
  const bool valid = _readHeader(&salt, &start, &applied, &owned);
  _salt = valid ? salt : 0;
  _start = _end = valid ? start : kFirstRecord;
  _sequence = _applied = 0;
  _fresh = true;
  _prevStart = _prevEnd = 0;
  if (!valid) return scan;
  auto sameOwner = [this](const uint8_t* h) {
    return GetLE32(h + kZorBfHdrGuid) == _owner.guid && GetLE32(h + kZorBfHdrFileType) == _owner.fileType &&
           GetLE32(h + kZorBfHdrSignature) == _owner.signature;
  };
  _end = _walk([&](const JournalRecord& r) { owned = owned || sameOwner(r.header); });
  if (!owned) {
    scan.state = JournalScan::kForeign;
    _salt = 0;
    _sequence = 0;
    _start = _end = kFirstRecord;
    return scan;
  }
  if (from == kUnapplied) from = applied;
  if (sink || index) {
    _walk([&](const JournalRecord& r) {
      if (r.sequence <= from) return;
      if (index) _index(r);
      if (sink) sink->Apply(r);
    });
  }
  // A torn record: its prefix names this generation and the next sequence.
  uint8_t p[kPrefix];
  bool ok = false;
  if (_end + kPrefix <= _stream->GetSize()) {
    ReadExactly(_stream, _end, p, kPrefix, &ok);
    scan.tornTail = ok && std::memcmp(p, kTag, sizeof kTag) == 0 && GetLE64(p + 16) == _salt &&
                    GetLE64(p + 24) == _sequence + 1;
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
  return scan;
}

// ------------------------------------------------------------ pieces

void Journal::_index(const JournalRecord& r) {
  for (const JournalRecord::Piece& piece : r.pieces) {
    if (piece.length == 0) continue;
    _pieces[piece.pos] = Piece{piece.at, piece.length};
    // Union of [pos, pos + length) with what is covered already.
    uint64_t from = piece.pos, to = piece.pos + piece.length;
    auto it = _covered.upper_bound(from);
    if (it != _covered.begin() && std::prev(it)->second >= from) --it;
    while (it != _covered.end() && it->first <= to) {
      from = std::min(from, it->first);
      to = std::max(to, it->second);
      it = _covered.erase(it);
    }
    _covered[from] = to;
  }
}

void Journal::_forgetPieces() {
  _pieces.clear();
  _covered.clear();
}

bool Journal::FindPiece(uint64_t pos, uint32_t n, uint64_t* at) const {
  const auto it = _pieces.find(pos);
  if (it == _pieces.end() || it->second.length != n) return false;
  *at = it->second.at;
  return true;
}

bool Journal::Covers(uint64_t pos, uint64_t n) const {
  if (_covered.empty() || n == 0) return false;
  auto it = _covered.upper_bound(pos);
  if (it != _covered.begin() && std::prev(it)->second > pos) return true;
  return it != _covered.end() && it->first < pos + n;
}

bool Journal::ReadAt(uint64_t at, void* buf, uint32_t n) {
  bool ok = false;
  ReadExactly(_stream, at, buf, n, &ok);
  return ok;
}

// ------------------------------------------------------------ writing

void Journal::_put(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  _record.insert(_record.end(), p, p + n);
  _record.resize(Align8(_record.size()), 0);
}

void Journal::Begin() {
  _record.assign(kRecordHead, 0);
  std::memcpy(_record.data(), kTag, sizeof kTag);
  _pieceBytes = 0;
  _building = true;
}

void Journal::AddEntries(int32_t first, int32_t count, const uint8_t* stored) {
  uint8_t item[8];
  PutLE32(item, static_cast<uint32_t>(first));
  PutLE32(item + 4, static_cast<uint32_t>(count));
  _put(item, 8);
  _put(stored, size_t(count) * kZorBfEntrySize);
  PutLE32(_record.data() + 40, GetLE32(_record.data() + 40) + 1);
}

void Journal::AddPiece(uint64_t pos, const void* data, uint32_t n) {
  uint8_t item[16] = {};
  PutLE64(item, pos);
  PutLE32(item + 8, n);
  _put(item, 16);
  _put(data, n);
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
void Journal::Commit(const uint8_t* header, uint64_t fileSize, bool flush) {
  if (!_building) Begin();
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
  WriteAt(_stream, at, p, _record.size());
  if (opens) {
    // The record first: a process killed between the two writes leaves the
    // previous header, whose records are whole.
    const uint64_t oldSalt = _salt, oldStart = _start;
    _salt = salt;
    _start = at;
    try {
      _writeHeader(0);
    } catch (...) {
      _salt = oldSalt;
      _start = oldStart;
      throw;
    }
    _salt = oldSalt;
    _start = oldStart;
  }
  if (flush) _stream->Flush();
  // Committed.
  if (opens) {
    _forgetPieces();
    _salt = salt;
    _start = at;
    _end = at;
    _sequence = 0;
    _applied = 0;
    _fresh = false;
  }
  JournalRecord r;
  _parse(_record, _end, &r);
  _index(r);
  _sequence = sequence;
  _end += _record.size();
  _building = false;
  _record.clear();
  _record.shrink_to_fit();
}

void Journal::Abandon() {
  _building = false;
  _record.clear();
  _pieceBytes = 0;
}

// ------------------------------------------------------------ checkpoints

bool Journal::HeaderMoved() {
  uint64_t salt = 0, start = 0, applied = 0;
  bool owned = false;
  if (!_readHeader(&salt, &start, &applied, &owned)) return _salt != 0;
  return salt != _salt || start != _start || applied != _applied;
}

void Journal::MarkApplied() {
  if (_sequence == 0 || _applied == _sequence) {
    _fresh = true;
    return;
  }
  _writeHeader(_sequence);
  _applied = _sequence;
  _forgetPieces();
  _fresh = true;
  _prevStart = _start;
  _prevEnd = _end;
}

void Journal::Invalidate(bool flush) {
  const uint8_t zeros[kHeaderBytes] = {};
  WriteAt(_stream, 0, zeros, kHeaderBytes);
  if (flush) _stream->Flush();
  _forgetPieces();
  _salt = 0;
  _sequence = _applied = 0;
  _start = _end = kFirstRecord;
  _fresh = true;
  _prevStart = _prevEnd = 0;
}

}  // namespace zorvane::bfile
