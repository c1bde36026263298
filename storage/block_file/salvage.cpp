// Salvage: copying the sound blocks of a damaged block file into a new one.
//
// Some damage has no repair path (an extent outside the file, a size above
// the capacity, a crash counter above 1): the file never opens again, yet
// most of its blocks are usually intact. Salvage trusts nothing but the
// magic. It reads the header and as much of the directory as the file holds
// and judges each used entry on its own: an entry is sound when its size
// fits its capacity and the block size limit, its owner and type are not the
// reserved wildcards, and its extent (when it has bytes) lies after the
// directory that was read and inside the file. The header's data start is
// not trusted. Overlapping extents are not judged: both blocks are copied,
// and the checks of the source say which ones overlapped.
//
// Transactions that a crash left in the journal beside the file, committed
// but not yet in it, are read as a reader of the file sees them: laid over
// its bytes (a journal of another file, damaged or older than the file is
// ignored, as an opening would).
//
// The new file is built in two transactions. The first lays out the whole
// directory as empty slots, so that the area reserved for it is in place and
// no block ever has to move; the second appends each sound block at the end
// of the file, padded to its capacity, and fills its entry. Blocks are read
// and written one at a time through one buffer. The new file is the
// caller's to keep only once everything went well: on any error (the user's
// cancellation included) it is removed.
#include <zorvane/block_file.h>

#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/file_commands.h>
#include <zorvane/progress.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/journal.h"
#include "storage/block_file/maintenance.h"

namespace zorvane {

using namespace bfile::texts;

using bfile::kSource;

namespace {

// The message saying why a used entry cannot be copied, or 0.
int32_t Flaw(const sZorBfBRef& e, uint64_t lowest, uint64_t fileSize) {
  if (bfile::IsPlacementDamaged(e, lowest, fileSize) || (e.size != 0 && !e.HasPos())) return kMsgOutside;
  if (e.owner == ZorBfAnyOwner) return kMsgBadOwner;
  if (e.type == ZorBfAnyType || e.type == ZorBfKeepType) return kMsgBadType;
  return 0;
}

struct Salvager {
  Salvager(const ZorFsa* source, ZorVerif* r) : inPath(source), report(r), o(ZorBFile::Rep::Of(out)) {}

  const ZorFsa* inPath;
  ZorVerif* report;
  sZorBfSalvage counts;
  iZorStream* in = nullptr;
  uint8_t header[kZorBfHeaderSize] = {};
  std::vector<sZorBfBRef> dir;
  uint64_t fileSize = 0;
  uint32_t recorded = 0;
  ZorBFile out;
  ZorBFile::Rep& o;  // out's representation
  std::vector<uint8_t> buffer;
  bfile::ByteOverlay overlay;  // committed transactions of the journal

  // Reads what the file holds at pos, with the journal's transactions over
  // it; the count of bytes read.
  uint32_t ReadAt(uint64_t pos, void* buf, uint32_t n) {
    in->Seek(static_cast<int64_t>(pos), ZorSeekSet);
    uint32_t got = in->Read(buf, n);
    if (overlay.Empty()) return got;
    if (got < n && pos + n <= fileSize) {
      std::memset(static_cast<uint8_t*>(buf) + got, 0, n - got);
      got = n;
    }
    overlay.Patch(pos, static_cast<uint8_t*>(buf), got);
    return got;
  }

  // The journal beside the file, when there is one that holds transactions
  // the file lacks.
  void ReadJournal() {
    string sys;
    const std::string name = std::string(inPath->GetSysPath(&sys)) + kZorBfJournalSuffix;
    const ZorFsa path(name.c_str());
    if (!ZorFsaCmd(&path, ZorFsaCmdQuiet).Exists()) return;
    iZorStream* s = ZorOpenStream(&path, ZorPermRead | ZorShareReadWrite, nullptr, ZorStmNotShared | ZorStmNoRaise);
    if (!s) return;
    bfile::Journal journal(s, true, bfile::OwnerOf(header));
    bfile::OverlaySink sink(overlay);
    journal.Scan(&sink, bfile::Journal::kUnapplied);
    if (sink.records == 0) return;
    fileSize = std::max(fileSize, sink.size);
    overlay.Patch(0, header, kZorBfHeaderSize);
  }

  template <typename... Args>
  void Item(eZorVerifType type, int32_t msg, Args... args) {
    if (report) report->AddItemMsg(type, 0, 0, 1, kGroup, msg, static_cast<int32_t>(args)...);
  }

  // The header and the entries the file holds.
  void ReadSource() {
    fileSize = in->GetSize();
    in->Seek(0, ZorSeekSet);
    if (in->Read(header, kZorBfHeaderSize) != kZorBfHeaderSize || std::memcmp(header, "ZorBFile", 8) != 0)
      ZorRaise(kSource, ZorErr(1, 36), inPath);
    ReadJournal();
    recorded = platform::GetLE32(header + kZorBfHdrDirCount);
    const uint64_t room = (fileSize - kZorBfHeaderSize) / kZorBfEntrySize;
    const uint64_t count = std::min<uint64_t>({recorded, room, kZorBfMaxEntries});
    counts.missing = static_cast<int32_t>(std::min<uint64_t>(recorded - count, std::numeric_limits<int32_t>::max()));
    std::vector<uint8_t> bytes(count * kZorBfEntrySize);
    if (!bytes.empty() && ReadAt(kZorBfHeaderSize, bytes.data(), static_cast<uint32_t>(bytes.size())) != bytes.size())
      ZorRaise(kSource, ZorErr(1, 32), inPath);
    dir.resize(count);
    for (size_t i = 0; i < count; ++i) dir[i].Load(bytes.data() + i * kZorBfEntrySize);
  }

  // The new file with the source's identity and every id as an empty slot.
  void CreateOut(const ZorFsa* outPath) {
    out.Open(outPath, ZorPermReadWrite, ZorShareExclusive, 0, -1, -1, -1);
    constexpr uint32_t kIdentity = kZorBfHdrFileType;  // from there to the end: identity, user array, reserved
    std::memcpy(o._header + kIdentity, header + kIdentity, kZorBfHeaderSize - kIdentity);
    bfile::Txn txn(&o);
    o._setHeaderDirty();
    const int32_t count = static_cast<int32_t>(dir.size());
    if (count == 0) return;
    o._resizeDirectory(count);
    for (int32_t id = 1; id <= count; ++id) o._entry(id).flags = ZorBfFlagFree;
    o._recordChange(1);
    o._recordChange(count);
  }

  // Copies one sound entry; false when its bytes cannot be read.
  bool Copy(int32_t id, const sZorBfBRef& e) {
    buffer.resize(e.size);
    if (e.size != 0) {
      try {
        if (ReadAt(e.GetPos(), buffer.data(), e.size) != e.size) return false;
      } catch (const ZorEBasic&) {
        return false;
      }
    }
    sZorBfBRef& d = o._entry(id);
    d = sZorBfBRef{};
    d.owner = e.owner;
    d.type = e.type;
    d.size = e.size;
    d.flags = static_cast<uint8_t>(e.flags & ~(ZorBfFlagFree | ZorBfFlagMemoryOnly));
    if (e.HasPos() && e.capacity != 0) {
      const uint64_t at = o._appendPoint();
      if (!bfile::ExtentFits(at, e.capacity)) ZorRaise(kSource, ZorErr(1, 16), &o._path);
      o._writeAt(at, buffer.data(), e.size);
      o._writeZeros(at + e.size, e.capacity - e.size);
      o._fileSize = at + e.capacity;
      d.SetPos(at);
      d.capacity = e.capacity;
    }
    o._recordChange(id);
    return true;
  }

  void CopyBlocks(ZorProgress* display) {
    const uint64_t lowest = kZorBfHeaderSize + dir.size() * kZorBfEntrySize;
    string title, inName, outName;
    display->Begin(ZorFormString(&title, 1, kGroup, kTitleSalvage, inPath->GetPath(ZorFsaPathDisplay, &inName),
                                 o._path.GetPath(ZorFsaPathDisplay, &outName)),
                   static_cast<int64_t>(dir.size()));
    bfile::Txn txn(&o);
    for (int32_t id = 1; id <= static_cast<int32_t>(dir.size()); ++id) {
      if (display->Step()) ZorProgress::S_RaiseCancel(kSource, __LINE__);
      const sZorBfBRef& e = dir[static_cast<size_t>(id - 1)];
      if (e.IsFree()) continue;
      const int32_t flaw = Flaw(e, lowest, fileSize);
      if (flaw == 0 && Copy(id, e)) {
        ++counts.kept;
        continue;
      }
      ++counts.dropped;
      Item(kZorVerifIrreparable, flaw ? flaw : kMsgUnreadable, id);
    }
    display->End();
  }

  void Run(const ZorFsa* outPath, ZorProgress* display) {
    if (report) {
      string inName, outName;
      report->AddSectionMsg(1, kGroup, kTitleSalvage, inPath->GetPath(ZorFsaPathDisplay, &inName),
                            outPath->GetPath(ZorFsaPathDisplay, &outName));
    }
    ZorLock guard;
    in = ZorOpenStream(inPath, ZorPermRead | ZorShareRead, &guard, 0);
    ReadSource();
    if (counts.missing != 0) Item(kZorVerifIrreparable, kMsgShortDirectory, recorded, dir.size());
    CreateOut(outPath);
    CopyBlocks(display);
    out.Close(ZorBfCloseNormal);
    Item(kZorVerifNote, kMsgSummary, counts.kept, counts.dropped);
  }
};

}  // namespace

void ZorBFile::Rep::Salvage(const ZorFsa* in, const ZorFsa* out, ZorVerif* report, ZorProgress* display,
                            sZorBfSalvage* result) {
  Create(out, 0, 0, nullptr, ZorFsaCreateNew);
  Salvager s(in, report);
  ZorProgress headless;
  try {
    s.Run(out, display ? display : &headless);
  } catch (...) {
    if (s.out.IsOpen()) s.out.Close(ZorBfCloseAbandon);
    ZorFsaCmd(out, ZorFsaCmdQuiet).Remove();
    throw;
  }
  if (result) *result = s.counts;
}

}  // namespace zorvane
