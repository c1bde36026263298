// A side journal damaged at will beside a block file whose writer was killed
// after committing a few transactions. The genuine journal of that moment is
// built once; each input edits it:
//   byte 0: bit 0 reseals the checksums after the edits (so that the
//           fuzzer reaches the record parser, not only the checksum test),
//           bits 2-7 cut the journal to k/64 of its length (0: no cut);
//   then groups of 5 bytes: a little-endian offset (modulo the length) and
//           the byte to put there.
// A reader opens the pair, reads every block and must change neither image;
// a writer then opens it (recovering), checks, reads, writes and closes.
// Only library errors may come out: no crash, leak or hang.
#include <zorvane/zorvane.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/mem_stream.h"

using namespace zorvane;
using fuzz_support::MemStream;

namespace {

constexpr int32_t kType = 4242, kSignature = 77;

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

void PutLe32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>(v >> (8 * i));
}

// CRC-32 (the zlib polynomial), bit by bit: journals here are small.
uint32_t Crc(const std::string& s, size_t from, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = from; i < from + n; ++i) {
    crc ^= static_cast<uint8_t>(s[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

struct Pair {
  std::string file, journal;
};

// A copy-on-write file with a journal, three transactions committed, and
// both images taken before any close: what a kill -9 leaves.
Pair KilledWriter() {
  MemStream file(""), journal("");
  ZorBFile::CreateOnStream(&file, kType, kSignature, "journal fuzz");
  ZorBFile f;
  f.OpenOnStream(&file, nullptr, ZorBfOpenCopyOnWrite, 16, kType, kSignature, &journal);
  int32_t ids[3] = {};
  for (int t = 0; t < 3; ++t) {
    f.StartTransaction();
    ZorHandle h;
    const std::string text(100 + 300 * t, static_cast<char>('a' + t));
    h.Init(text.data(), static_cast<int32_t>(text.size()));
    ids[t] = f.BCreate(&h, 1 + t, 1, 0, true);
    if (t > 0) f.BDelete(ids[t - 1]);
    f.EndTransaction();
  }
  Pair out{file.Image(), journal.Image()};
  // Without a pending record the target would test nothing.
  if (out.journal.size() < 64 || out.journal.compare(Le32(out.journal, 16), 4, "ZBJr") != 0) __builtin_trap();
  f.Close(ZorBfCloseAbandon);
  return out;
}

// The header's checksum, then each record's, walking from the first record
// as long as the lengths lead somewhere inside the journal.
void Reseal(std::string* j) {
  if (j->size() < 64) return;
  PutLe32(j, 60, Crc(*j, 0, 60));
  uint64_t at = Le32(*j, 16);
  for (int n = 0; n < 64 && at + 48 <= j->size(); ++n) {
    const uint64_t length = Le32(*j, at + 8);
    if (length < 48 || length > j->size() - at) return;
    PutLe32(j, at + 4, Crc(*j, at + 16, length - 16));
    at += length;
  }
}

std::string Edited(const std::string& genuine, const uint8_t* data, size_t size) {
  std::string j = genuine;
  if (size == 0 || j.empty()) return j;
  for (size_t i = 1; i + 5 <= size; i += 5) {
    uint32_t offset = 0;
    std::memcpy(&offset, data + i, 4);
    j[offset % j.size()] = static_cast<char>(data[i + 4]);
  }
  if (data[0] & 1) Reseal(&j);
  if (const uint32_t cut = data[0] >> 2) j.resize(j.size() * cut / 64);
  return j;
}

void ReadAll(ZorBFile* f) {
  int32_t freeWithSpace = 0, emptySlots = 0;
  const int32_t count = f->GetNbBlock(&freeWithSpace, &emptySlots);
  for (int32_t id = 1; id <= count; ++id) {
    int32_t size = 0;
    if (!f->GetBlockInfo(id, nullptr, nullptr, &size, nullptr, nullptr)) continue;
    ZorHandle h;
    f->BReadCopy(id, &h);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Pair genuine = KilledWriter();
  if (size > 4096) return 0;
  const std::string journalImage = Edited(genuine.journal, data, size);

  {  // a reader lays the journal over what it reads and writes nothing
    MemStream file(genuine.file, true), journal(journalImage, true);
    try {
      ZorBFile f;
      f.OpenOnStream(&file, nullptr, ZorBfOpenTolerant, 16, kType, kSignature, &journal);
      ReadAll(&f);
      f.Close(ZorBfCloseAbandon);
    } catch (const ZorException&) {
    }
    if (file.Image() != genuine.file || journal.Image() != journalImage) __builtin_trap();
  }

  MemStream file(genuine.file), journal(journalImage);
  try {
    ZorBFile f;
    f.OpenOnStream(&file, nullptr, ZorBfOpenCopyOnWrite | ZorBfOpenTolerant, 16, kType, kSignature, &journal);
    ZorVerif report;
    report.Init(true, 5);
    f.CheckDir(&report);
    f.CheckCrossBlock(&report);
    ReadAll(&f);
    f.StartTransaction();
    ZorHandle h;
    h.Init("after", 5);
    f.BCreate(&h, 9, 1, 0, true);
    f.EndTransaction();
    f.Close(ZorBfCloseNormal);
  } catch (const ZorException&) {
  }
  return 0;
}
