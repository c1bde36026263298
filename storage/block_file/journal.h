// The side journal of a copy-on-write block file (see journal.cpp for the
// format, the protocol and the proof of its crash safety).
//
// A Journal owns nothing of the block file: it reads and writes its own
// stream (owned when the block file opened it, else the caller's) and keeps
// the record being built. The block file replays records through a
// RecordSink.
#pragma once

#include <zorvane/block_file.h>

#include <cstdint>
#include <map>
#include <vector>

namespace zorvane {

class iZorStream;

namespace bfile {

// The block file a journal belongs to: the header's identifier, file type
// and signature, and its update counter as it stands on disk (a counter
// that the journal's generation does not know marks the journal as older
// than the file).
struct JournalOwner {
  uint32_t guid = 0;
  uint32_t fileType = 0;
  uint32_t signature = 0;
  uint64_t update = 0;
};

// One committed transaction, as replay hands it over. The pointers stay
// valid for the duration of the call.
struct JournalRecord {
  uint64_t sequence = 0;
  uint64_t fileSize = 0;  // the block file's logical size after the transaction
  const uint8_t* header = nullptr;  // kZorBfHeaderSize bytes
  struct Entries {
    int32_t first;
    int32_t count;
    const uint8_t* bytes;  // count stored entries
  };
  struct Piece {
    uint64_t pos;     // in the block file
    uint32_t length;
    const uint8_t* bytes;
  };
  std::vector<Entries> entries;
  std::vector<Piece> pieces;
};

// The identity and update counter a block file's header image names.
JournalOwner OwnerOf(const uint8_t* header);

class RecordSink {
 public:
  virtual void Apply(const JournalRecord& record) = 0;

 protected:
  ~RecordSink() = default;
};

// What a look at the journal found.
struct JournalScan {
  enum State { kEmpty, kForeign, kStale, kCut, kValid };
  State state = kEmpty;    // kEmpty: no journal, or one that holds no generation;
                           // kStale: older than the block file;
                           // kCut: cut short at the end of a record
  uint64_t records = 0;    // valid records of the generation
  uint64_t applied = 0;    // of which the block file is known to hold
  uint64_t bytes = 0;      // of the valid records
  uint64_t start = 0, end = 0;
  bool tornTail = false;   // a record of the generation follows them, damaged
};

// Bytes laid over a file that cannot be written: a reader's view of the
// records its block file lacks. A later Put wins over an earlier one.
class ByteOverlay {
 public:
  void Put(uint64_t pos, const uint8_t* data, uint32_t n);
  // Copies the overlaid bytes of [pos, pos + n) over buf.
  void Patch(uint64_t pos, uint8_t* buf, uint32_t n) const;
  bool Empty() const { return _runs.empty(); }
  void Clear() { _runs.clear(); }

 private:
  std::map<uint64_t, std::vector<uint8_t>> _runs;  // disjoint, by start
};

// Replays records into an overlay: what a reader of the block file sees.
class OverlaySink : public RecordSink {
 public:
  explicit OverlaySink(ByteOverlay& overlay) : _o(overlay) {}
  void Apply(const JournalRecord& r) override;

  uint64_t records = 0;
  uint64_t size = 0;  // the block file's logical size after the last record

 private:
  ByteOverlay& _o;
};

class Journal {
 public:
  // The stream is owned (closed by the destructor) when `owned`.
  Journal(iZorStream* stream, bool owned, const JournalOwner& owner);
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal();

  iZorStream* Stream() const { return _stream; }
  // The identity new headers carry: the block file's as it stands on disk.
  void SetOwner(const JournalOwner& owner) { _owner = owner; }
  const JournalOwner& Owner() const { return _owner; }

  // ---- reading
  static constexpr uint64_t kUnapplied = ~uint64_t(0);  // as `from`: those the block file lacks
  // Reads the header and walks the generation. Records after `from` (in
  // sequence) go to the sink when there is one. Afterwards the
  // journal continues that generation: the next record follows them. A
  // journal of another file is left alone (kForeign): the next record
  // starts a generation of this one.
  JournalScan Scan(RecordSink* sink, uint64_t from);
  // Whether the generation holds records the block file does not.
  bool HasUnapplied() const { return _sequence > _applied; }
  uint64_t Applied() const { return _applied; }

  // ---- writing
  // The record of a transaction collects its pieces and entries from Begin
  // (or the first of them) on; Commit adds the header image and the logical
  // size of the block file.
  void Begin();
  void AddEntries(int32_t first, int32_t count, const uint8_t* stored);
  void AddPiece(uint64_t pos, const void* data, uint32_t n);
  bool Building() const { return _building; }
  uint64_t PieceBytes() const { return _pieceBytes; }
  // Writes the record, with a new header when it opens a generation, and
  // makes both durable (unless !flush). A record that opens a generation
  // notes `baseUpdate`, the update counter the block file's header holds on
  // disk as the generation opens. Raises on failure: the caller then
  // abandons the record, and the next one takes its place.
  void Commit(const uint8_t* header, uint64_t fileSize, bool flush, uint64_t baseUpdate);
  void Abandon();
  // Clears the tag of a record whose commit failed, durably (raises when
  // it cannot); nothing to do when none did.
  bool ScrubPending() const { return _scrubAt != 0; }
  void Scrub();
  // The generation's bytes, to decide when to checkpoint.
  uint64_t GenerationBytes() const { return _end - _start; }

  // ---- checkpoints
  // Every record up to the last is in the block file and durable there:
  // the header says so (not flushed: a stale mark only makes a recovery
  // replay more), and the next record opens a new generation.
  void MarkApplied();
  // Whether the header on disk is no longer the one this journal last read
  // or wrote: another process committed, or this one could not checkpoint.
  bool HeaderMoved();
  // Zeroes the header: nothing of this journal is ever replayed again.
  void Invalidate(bool flush);

 private:
  bool _readHeader(uint64_t* salt, uint64_t* start, uint64_t* applied, bool* owned, uint64_t* base);
  template <class Visit>
  uint64_t _walk(Visit visit);
  void _writeHeader(uint64_t applied);
  bool _readRecord(uint64_t at, uint64_t limit, uint64_t sequence, std::vector<uint8_t>* out);
  static bool _parse(const std::vector<uint8_t>& rec, JournalRecord* out);
  uint64_t _placeFirst(uint64_t length) const;
  static void _put(std::vector<uint8_t>* to, const void* data, size_t n);
  void _makeRoom(uint64_t recordEnd, bool flush);
  void _preallocate(uint64_t end);
  bool _laterRecord(uint64_t at, uint64_t next);

  iZorStream* _stream;
  bool _owned;
  JournalOwner _owner;

  // The generation: its salt, where its records begin and end, the last
  // record's sequence and the last the block file holds.
  uint64_t _salt = 0;
  uint64_t _start = 0;
  uint64_t _base = 0;  // the block file's update counter when it opened
  uint64_t _end = 0;
  uint64_t _sequence = 0;
  uint64_t _applied = 0;
  // A new generation begins with the next record (none yet, or the last
  // one was applied). Its header then goes out with that record, placed
  // clear of the generation that the header on disk may still name:
  // [_prevStart, _prevEnd).
  bool _fresh = true;
  uint64_t _prevStart = 0, _prevEnd = 0;

  uint64_t _allocated = 0;  // the file's size as of the last preallocation
  uint64_t _durable = 0;    // of which a flush made durable
  uint64_t _scrubAt = 0;  // a failed record whose tag is still to be cleared
  bool _building = false;
  std::vector<uint8_t> _record;      // prefix, header image, entry runs
  std::vector<uint8_t> _pieceItems;  // the pieces, appended at Commit
  uint64_t _pieceBytes = 0;
};

}  // namespace bfile
}  // namespace zorvane
