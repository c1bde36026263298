// Block file compaction and checks: the waste threshold, what compaction
// leaves behind, its crash bracket, and each check against a file damaged on
// purpose by editing directory bytes. Files live in a FaultStream image, so
// that a test can edit bytes, fail a write, and see exactly what was written.
//
// Broader coverage (random files, random damage, every message) is in
// bfile_format_oracle.py, which re-derives everything from the raw bytes.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include "platform/little_endian.h"
#include "support/fault_stream.h"
#include "support/progress_double.h"
#include "support/temp_files.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace zorvane;
using zorvane::platform::GetLE32;
using zorvane::platform::PutLE32;
using zortest::FaultStream;

namespace {

constexpr uint32_t kDataStart = 25600;
constexpr int32_t kTolerant = ZorBfOpenTolerant;

// Entry field offsets inside a 24-byte directory entry.
enum : uint32_t { kPos = 0, kCap = 4, kSize = 8, kOwner = 12, kType = 20, kFlags = 22, kHiPos = 23 };

uint32_t EntryAt(int32_t id) { return kZorBfHeaderSize + static_cast<uint32_t>(id - 1) * kZorBfEntrySize; }

ZorHandle Bytes(uint32_t n, uint8_t seed) {
  ZorHandle h;
  h.Init(n);
  auto* p = static_cast<uint8_t*>(h.GetDatas());
  for (uint32_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(seed + i * 13 + i / 256);
  return h;
}

std::string Read(ZorBFile& f, int32_t id) {
  ZorHandle h;
  f.BReadCopy(id, &h);
  return h.IsInit() ? std::string(static_cast<const char*>(h.GetDatas()), h.GetSize()) : std::string();
}

std::string AsString(const ZorHandle& h) { return std::string(static_cast<const char*>(h.GetDatas()), h.GetSize()); }

int64_t ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ZorException& e) {
    return e.GetError();
  }
  return 0;
}

// Captures alert texts instead of writing them to stderr.
class CapturingUi : public iZorUserInterface {
 public:
  CapturingUi() { _previous = ZorSetUserInterface(this); }
  ~CapturingUi() override { ZorSetUserInterface(_previous); }
  int32_t MessageBox(const char* text, const char*, uint32_t) override {
    texts.emplace_back(text);
    return ZorIdOk;
  }
  bool IsShiftDown() override { return false; }
  std::vector<std::string> texts;

 private:
  iZorUserInterface* _previous = nullptr;
};

// Records the events of the journal.
class EventRecorder : public iZorEventStore {
 public:
  EventRecorder() { _previous = ZorSetEventStore(this); }
  ~EventRecorder() override { ZorSetEventStore(_previous); }
  uint32_t Count() override { return static_cast<uint32_t>(texts.size()); }
  uint32_t DeleteTypes(int32_t, int32_t) override { return 0; }
  void Add(const sZorEventRecord& r) override { texts.emplace_back(r.text); }
  void Empty() override { texts.clear(); }
  std::vector<std::string> texts;

 private:
  iZorEventStore* _previous = nullptr;
};

// Keeps the durable image as it was when, after Watch(), the first byte at
// or above data start is written: what a power cut at that moment leaves.
class WatchStream : public FaultStream {
 public:
  void Watch() {
    _watching = true;
    durableAtFirstMove.clear();
  }
  uint64_t Seek(int64_t offset, eZorSeek whence) override { return _at = FaultStream::Seek(offset, whence); }
  void Write(const void* buf, uint32_t n) override {
    if (_watching && _at >= kDataStart) {
      _watching = false;
      durableAtFirstMove = Durable();
    }
    FaultStream::Write(buf, n);
    _at += n;
  }
  std::string durableAtFirstMove;

 private:
  bool _watching = false;
  uint64_t _at = 0;
};

// A block file in a FaultStream image, reopened at will.
class BFileCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZorBFile::CreateOnStream(&stream, fileType, 0, "check test");
    Open(0);
  }
  void TearDown() override { Close(); }

  void Open(int32_t flags) {
    file = std::make_unique<ZorBFile>();
    file->OpenOnStream(&stream, &path, flags, -1, -1, -1);
  }
  void Close() {
    if (file && file->IsOpen()) file->Close(ZorBfCloseNormal);
    file.reset();
  }
  void Reopen(int32_t flags) {
    Close();
    Open(flags);
  }
  int32_t New(uint32_t size, uint32_t reserve = 0, bool compact = true, uint8_t seed = 1) {
    ZorHandle data = Bytes(size, seed);
    return file->BCreate(size ? &data : nullptr, 7, 3, reserve, compact);
  }

  // Directory edits on the closed file's bytes.
  uint32_t Field(int32_t id, uint32_t offset) const { return GetLE32(stream.Image().data() + EntryAt(id) + offset); }
  void Patch(int32_t id, uint32_t offset, const std::string& bytes) {
    std::string image = stream.Image();
    image.replace(EntryAt(id) + offset, bytes.size(), bytes);
    stream.SetImage(image);
  }
  void Patch32(int32_t id, uint32_t offset, uint32_t value) {
    char b[4];
    PutLE32(b, value);
    Patch(id, offset, std::string(b, 4));
  }
  void Patch8(int32_t id, uint32_t offset, uint8_t value) { Patch(id, offset, std::string(1, char(value))); }
  void Resize(size_t n) {
    std::string image = stream.Image();
    image.resize(n, '\0');
    stream.SetImage(image);
  }

  // Runs a check and returns its items as "E text" / "R text" lines.
  std::vector<std::string> Items(bool (ZorBFile::*check)(ZorVerif*), bool repair = false, int32_t mode = 0,
                                 bool* result = nullptr) {
    ZorVerif v;
    v.Init(repair, mode);
    const bool r = (file.get()->*check)(&v);
    if (result) *result = r;
    std::vector<std::string> out;
    string text;
    sZorVerifItem item;
    for (int32_t i = 1; v.GetItem(i, &item); ++i)
      out.push_back((item.type == kZorVerifRepaired ? "R " : "E ") + std::string(v.GetItemComment(i, &text)));
    return out;
  }

  int32_t fileType = 0;
  WatchStream stream;
  ZorFsa path{"/tmp/check test.zbf"};
  std::unique_ptr<ZorBFile> file;
};

// ---------------------------------------------------------------- NeedCompact

// One block of capacity 4,000 in a file of 29,600 bytes: 10 % is 2,960 bytes
// of spare capacity, that is a size of 1,040.
TEST_F(BFileCheckTest, NeedCompactTenPercentThreshold) {
  const int32_t id = New(1040, 4000);
  Reopen(0);
  ASSERT_EQ(stream.Image().size(), 29600u);
  EXPECT_TRUE(file->NeedCompact(ZorBfCompact10Percent));
  ZorHandle one = Bytes(1041, 1);
  file->BWriteCopy(id, &one, 0);
  EXPECT_FALSE(file->NeedCompact(ZorBfCompact10Percent));
  EXPECT_TRUE(file->NeedCompact(ZorBfCompactAny));
  EXPECT_FALSE(file->NeedCompact(static_cast<eZorBfCompact>(4)));
  // Counted in whole hundredths: 3,000 of 30,050 bytes is 10 of 300.
  file->EmptyFile(false);
  New(1450, 4450);
  Reopen(0);
  ASSERT_EQ(stream.Image().size(), 30050u);
  EXPECT_TRUE(file->NeedCompact(ZorBfCompact10Percent));
}

// With a verifier the checks are cancellable work; without one (the check
// of an opening) they are not.
TEST_F(BFileCheckTest, TheUserBreakCancelsChecksWithAVerifier) {
  New(100);
  file->SetFType(2);  // CheckBlockOwnerType looks at database files only
  ZorSetUserBreak(true);
  for (auto check : {&ZorBFile::CheckDir, &ZorBFile::CheckCrossBlock, &ZorBFile::CheckLostSpace,
                     &ZorBFile::CheckBlockOwnerType})
    EXPECT_EQ(ZorErr(1, 1000), ErrorOf([&] { Items(check); }));
  EXPECT_TRUE(file->CheckDir(nullptr));
  ZorSetUserBreak(false);
}

// A cancelled salvage leaves no half-made file behind.
TEST(BFileSalvage, ACancelledSalvageLeavesNoOutput) {
  zortest::TempDir dir;
  const ZorFsa in(dir.File("in.zbf").c_str()), out(dir.File("out.zbf").c_str());
  ZorBFile::Create(&in, 0, 0, nullptr, ZorFsaCreateNew);
  {
    ZorBFile f;
    f.Open(&in, ZorPermReadWrite, ZorShareExclusive, 0, -1, -1, -1);
    f.BCreate(nullptr, 1, 1, 0, true);
    f.Close(ZorBfCloseNormal);
  }
  ZorSetUserBreak(true);
  EXPECT_EQ(ZorErr(1, 1000), ErrorOf([&] { ZorBFile::Salvage(&in, &out, nullptr, nullptr, nullptr); }));
  ZorSetUserBreak(false);
  EXPECT_FALSE(ZorFsaCmd(&out).Exists());
}

// ---------------------------------------------------------------- Compact

TEST_F(BFileCheckTest, CompactOfATightFileChangesNothingAndSaysSo) {
  New(500);
  New(700);
  Reopen(0);
  const std::string before = stream.Image();
  stream.ClearRecords();
  CapturingUi ui;
  EXPECT_FALSE(file->Compact(ZorBfCompactAll, true, true));
  EXPECT_EQ(stream.Image(), before);
  EXPECT_TRUE(stream.Writes().empty());
  ASSERT_EQ(ui.texts.size(), 1u);
  EXPECT_EQ(ui.texts[0], "Le fichier \"/tmp/check test.zbf\" ne n\xe9" "cessite pas de compactage");
}

TEST_F(BFileCheckTest, CompactOfAReadOnlyFileRefuses) {
  New(500, 2000);
  Close();
  file = std::make_unique<ZorBFile>();
  ZorFsa fsa("/nowhere/read only.zbf");
  // A read-only stream: the file opens without write permission.
  struct ReadOnly : FaultStream {
    using FaultStream::FaultStream;
    int32_t Command(eZorStreamCmd cmd, void* a, void* b, void* c, void* d) override {
      return cmd == ZorStmCmdIsReadOnly ? 1 : FaultStream::Command(cmd, a, b, c, d);
    }
  } ro(stream.Image());
  file->OpenOnStream(&ro, &fsa, 0, -1, -1, -1);
  ASSERT_FALSE(file->IsWriteEnable());
  CapturingUi ui;
  EXPECT_FALSE(file->Compact(ZorBfCompactAny, true, false));
  ASSERT_EQ(ui.texts.size(), 1u);
  EXPECT_EQ(ui.texts[0], " Le fichier \"/nowhere/read only.zbf\" est prot\xe9g\xe9 en \xe9" "criture et ne peut \xea" "tre compact\xe9.");
  file->Close(ZorBfCloseAbandon);
}

// Blocks of every kind: spare room, not compactable, empty, deleted, grown.
TEST_F(BFileCheckTest, CompactModeThreeLeavesNoSpareRoomAndEndsAtTheLastExtent) {
  const int32_t a = New(300, 5000, true, 1);
  const int32_t b = New(400, 5000, false, 2);
  const int32_t empty = New(0, 2000);
  const int32_t gone = New(800, 0, true, 3);
  const int32_t c = New(900, 0, true, 4);
  file->BDelete(gone);
  ZorHandle grown = Bytes(3000, 5);
  file->BWriteCopy(c, &grown, 0);
  Reopen(0);
  const std::string da = Read(*file, a), db = Read(*file, b);
  zortest::RecordingProgress progress;
  ASSERT_TRUE(file->Compact(ZorBfCompactAll, false, true, &progress));
  Reopen(0);
  uint64_t end = kDataStart;
  for (int32_t id : {a, b, c, empty}) {
    int32_t size = 0;
    uint32_t capacity = 0;
    ASSERT_TRUE(file->GetBlockInfo(id, nullptr, nullptr, &size, &capacity, nullptr));
    EXPECT_EQ(capacity, static_cast<uint32_t>(size)) << "block " << id;
    const uint64_t pos = Field(id, kPos);
    if (size == 0) {
      EXPECT_EQ(pos, 0u) << "empty block " << id;
    }
    end = std::max(end, pos + capacity);
  }
  EXPECT_EQ(stream.Image().size(), end);
  EXPECT_EQ(stream.Image().size(), kDataStart + 300u + 400u + 3000u);
  EXPECT_EQ(Read(*file, a), da);
  EXPECT_EQ(Read(*file, b), db);
  EXPECT_EQ(Read(*file, c), AsString(grown));
  int32_t freeWithSpace = -1, emptySlots = -1;
  file->GetNbBlock(&freeWithSpace, &emptySlots);
  EXPECT_EQ(freeWithSpace, 0);
  EXPECT_EQ(file->GetCrashFlag(false), 0);
  // Two phases, both titled with the file name.
  EXPECT_EQ(progress.begins, 2);
  EXPECT_EQ(progress.ends, 2);
  EXPECT_EQ(progress.beginTitle, "Compactage du fichier /tmp/check test.zbf");
  EXPECT_EQ(progress.beginTotal, 4);  // the blocks that have an extent, the empty one included
}

// A block moved to a place that overlaps its own old extent keeps its bytes.
TEST_F(BFileCheckTest, CompactMovesABlockOverItsOwnOldExtent) {
  const int32_t small = New(100, 0, true, 1);
  const int32_t big = New(50000, 0, true, 9);
  file->BDelete(small);
  Reopen(0);
  const std::string before = Read(*file, big);
  file->BUncach(big);
  ASSERT_TRUE(file->Compact(ZorBfCompactAny, false, false));
  Reopen(0);
  EXPECT_EQ(Field(big, kPos), kDataStart);
  EXPECT_EQ(Read(*file, big), before);
}

// Inside a caller's transaction: a new block without an extent yet, a
// rewritten (dirty) block and a deletion, all flushed after the compaction.
// With copy-on-write the rewritten block then moves once more, to the end.
TEST_F(BFileCheckTest, CompactInsideATransactionKeepsPendingChanges) {
  for (const int32_t flags : {0, static_cast<int32_t>(ZorBfOpenCopyOnWrite)}) {
    SCOPED_TRACE(flags);
    stream.SetImage(std::string());
    ZorBFile::CreateOnStream(&stream, 0, 0, "check test");
    Reopen(flags);
    const int32_t a = New(400, 0, true, 1);
    const int32_t b = New(600, 2000, true, 2);
    const int32_t c = New(800, 0, true, 3);
    Reopen(flags);
    file->StartTransaction();
    file->BDelete(a);
    ZorHandle rewritten = Bytes(600, 9);
    file->BWriteCopy(b, &rewritten, 0);
    const int32_t d = New(300, 0, true, 4);
    ASSERT_TRUE(file->Compact(ZorBfCompactAny, false, false));
    file->EndTransaction();
    Reopen(0);
    EXPECT_EQ(Read(*file, b), AsString(rewritten));
    EXPECT_EQ(Read(*file, c), AsString(Bytes(800, 3)));
    EXPECT_EQ(Read(*file, d), AsString(Bytes(300, 4)));
    EXPECT_TRUE(file->CheckCrossBlock(nullptr));
    EXPECT_TRUE(file->CheckLostSpace(nullptr));
    EXPECT_EQ(stream.Image().size(), kDataStart + 600u + 800u + 300u + (flags ? 600u : 0u));
    EXPECT_EQ(file->GetCrashFlag(false), 0);
  }
}

// A size above the capacity would make the copy read past the extent (or
// allocate 4 GiB): a damaged directory is refused before anything changes.
TEST_F(BFileCheckTest, CompactRefusesADamagedDirectory) {
  New(100, 2000);
  const int32_t b = New(100, 2000);
  Close();
  Patch32(b, kSize, 0xFFFFFFFF);
  const std::string before = stream.Image();
  Open(kTolerant);
  EXPECT_EQ(ErrorOf([&] { file->Compact(ZorBfCompactAny, false, false); }), ZorErr(1, 32));
  EXPECT_EQ(file->GetCrashFlag(false), 0);
  EXPECT_EQ(stream.Image().substr(kDataStart), before.substr(kDataStart));
}

TEST_F(BFileCheckTest, CompactCancelledDuringTheScanChangesNothing) {
  New(300, 5000);
  Reopen(0);
  const std::string before = stream.Image();
  zortest::RecordingProgress progress;
  progress.cancelAtStep = 1;
  EXPECT_EQ(ErrorOf([&] { file->Compact(ZorBfCompactAny, false, true, &progress); }), ZorErr(1, 1000));
  EXPECT_EQ(file->GetCrashFlag(false), 0);
  Reopen(0);  // opens: the crash counter went back to 0
  EXPECT_EQ(stream.Image().substr(kDataStart), before.substr(kDataStart));
}

// The crash counter reaches the disk before the first block moves; a write
// failing mid-way leaves a file that refuses to open until repaired, and the
// directory written after the failure still finds every block.
TEST_F(BFileCheckTest, InterruptedCompactionIsDetectedAtTheNextOpen) {
  std::vector<int32_t> ids;
  std::vector<std::string> data;
  for (uint8_t i = 0; i < 6; ++i) ids.push_back(New(1000 + i * 100, 3000, true, i));
  for (int32_t id : ids) data.push_back(Read(*file, id));
  file->BDelete(ids[0]);
  Reopen(0);
  stream.Watch();
  stream.FailAt(FaultStream::Op::kWrite, 3);  // header, first move, then the failure
  EXPECT_EQ(ErrorOf([&] { file->Compact(ZorBfCompactAny, false, false); }), ZorErr(-1, 112));
  ASSERT_TRUE(stream.Fired());
  ASSERT_FALSE(stream.durableAtFirstMove.empty());
  EXPECT_EQ(GetLE32(stream.durableAtFirstMove.data() + kZorBfHdrCrash), 1u) << "crash counter not on disk before a move";
  file->Close(ZorBfCloseAbandon);
  file.reset();

  file = std::make_unique<ZorBFile>();
  EXPECT_EQ(ErrorOf([&] { file->OpenOnStream(&stream, &path, 0, -1, -1, -1); }), ZorErr(1, 32));
  Open(kTolerant);
  EXPECT_EQ(file->GetCrashFlag(true), 1);
  EXPECT_EQ(file->GetCrashFlag(false), 0);
  for (size_t i = 1; i < ids.size(); ++i) EXPECT_EQ(Read(*file, ids[i]), data[i]) << "block " << ids[i];
  EXPECT_TRUE(file->CheckCrossBlock(nullptr));
  EXPECT_TRUE(file->CheckDir(nullptr));
  Reopen(0);
}

// A process that dies at its nth stream operation: that one and all later
// ones fail, so nothing more reaches the file.
class DyingStream : public FaultStream {
 public:
  using FaultStream::FaultStream;
  void DieAt(int n) { _left = n; }
  bool Died() const { return _left == 0; }
  uint32_t Read(void* b, uint32_t n) override { return Live(), FaultStream::Read(b, n); }
  void Write(const void* b, uint32_t n) override { Live(), FaultStream::Write(b, n); }
  uint64_t Seek(int64_t o, eZorSeek w) override { return Live(), FaultStream::Seek(o, w); }
  uint64_t GetSize() override { return Live(), FaultStream::GetSize(); }
  void SetSize(uint64_t n) override { Live(), FaultStream::SetSize(n); }
  void Flush() override { Live(), FaultStream::Flush(); }

 private:
  void Live() {
    if (_left < 0) return;
    if (_left == 0 || --_left == 0) throw ZorEBasic("DyingStream", __LINE__, 1, ZorErr(-1, 5), nullptr, nullptr);
  }
  int _left = -1;
};

// Whatever operation a compaction dies at, the power cut that follows
// leaves a file that either opens with every block intact or refuses to
// open (32) until repaired.
TEST(BFileCompactPowerCut, EveryCutLeavesIntactBlocksOrAFileThatRefusesToOpen) {
  FaultStream build;
  ZorFsa path("/tmp/cut.zbf");
  ZorBFile::CreateOnStream(&build, 0, 0, "cut");
  std::vector<std::pair<int32_t, std::string>> blocks;
  {
    ZorBFile f;
    f.OpenOnStream(&build, &path, 0, -1, -1, -1);
    for (uint8_t i = 0; i < 10; ++i) {
      ZorHandle data = Bytes(1500 + i * 300, i);
      const int32_t id = f.BCreate(&data, 7, 3, 4000, true);
      if (i % 3 == 0)
        f.BDelete(id);
      else
        blocks.emplace_back(id, AsString(data));
    }
    f.Close(ZorBfCloseNormal);
  }
  int opened = 0, refused = 0;
  for (int n = 1;; ++n) {
    DyingStream s(build.Image());
    {
      ZorBFile f;
      f.OpenOnStream(&s, &path, 0, -1, -1, -1);
      s.DieAt(n);
      try {
        f.Compact(ZorBfCompactAny, false, false);
      } catch (const ZorException&) {
      }
      if (!s.Died()) break;  // the compaction ran to its end
      try {
        f.Close(ZorBfCloseAbandon);
      } catch (const ZorException&) {
      }
    }
    for (uint32_t seed = 0; seed < 24; ++seed) {
      DyingStream cut = s;
      FaultStream after(cut.PowerCut(seed));
      ZorBFile g;
      const int64_t err = ErrorOf([&] { g.OpenOnStream(&after, &path, 0, -1, -1, -1); });
      if (err != 0) {
        EXPECT_EQ(err, ZorErr(1, 32)) << "cut at operation " << n << ", seed " << seed;
        ++refused;
        continue;
      }
      ++opened;
      for (const auto& [id, data] : blocks)
        EXPECT_EQ(Read(g, id), data) << "block " << id << ", cut at " << n << ", seed " << seed;
      EXPECT_TRUE(g.CheckCrossBlock(nullptr)) << "cut at " << n << ", seed " << seed;
      g.Close(ZorBfCloseAbandon);
    }
  }
  EXPECT_GT(opened, 0);
  EXPECT_GT(refused, 0);
}

// ---------------------------------------------------------------- checks

TEST_F(BFileCheckTest, BlocksSharingOneByteAreReportedOnceLowerIdFirst) {
  const int32_t a = New(100);
  const int32_t b = New(100);
  New(100);
  Close();
  // Block a now is the last byte of block b: a is the lower id but the
  // higher position.
  const uint32_t posB = Field(b, kPos);
  Patch32(a, kPos, posB + 99);
  Patch32(a, kCap, 1);
  Patch32(a, kSize, 1);
  Open(kTolerant);
  bool sound = true;
  const std::vector<std::string> items = Items(&ZorBFile::CheckCrossBlock, false, 0, &sound);
  EXPECT_FALSE(sound);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], "E Le bloc 1 (pos=" + std::to_string(posB + 99) + " taille=1) se chevauche avec le bloc 2 (pos=" +
                          std::to_string(posB) + " taille=100).");
  EXPECT_FALSE(file->CheckCrossBlock(nullptr));
}

TEST_F(BFileCheckTest, LostSpaceAtTheEndIsReportedAndReclaimedOnlyWhenAllowed) {
  New(100);
  Close();
  Resize(kDataStart + 200);  // the last block ends 100 bytes before the end
  Open(kTolerant);
  const std::string lost = "Espace perdu de la position 25700 \xe0 25800";
  EXPECT_EQ(Items(&ZorBFile::CheckLostSpace), std::vector<std::string>{"E " + lost});
  EXPECT_FALSE(file->CheckLostSpace(nullptr));
  ZorSetCheckLevel(2);
  EXPECT_EQ(Items(&ZorBFile::CheckLostSpace, true, 4), std::vector<std::string>{"E " + lost});  // mode too low
  ZorSetCheckLevel(1);
  EXPECT_EQ(Items(&ZorBFile::CheckLostSpace, true, 5), std::vector<std::string>{"E " + lost});  // level too low
  ZorSetCheckLevel(2);
  EXPECT_EQ(Items(&ZorBFile::CheckLostSpace, true, 5), std::vector<std::string>{"R " + lost});
  ZorSetCheckLevel(0);
  EXPECT_TRUE(file->CheckLostSpace(nullptr));
  // The range is free space now: a block of that size takes it.
  Reopen(0);
  const int32_t id = New(100, 100);
  Reopen(0);
  EXPECT_EQ(Field(id, kPos), 25700u);
  EXPECT_EQ(stream.Image().size(), 25800u);
}

TEST_F(BFileCheckTest, DirectoryFaultsFailTheOpenAndAreReported) {
  const int32_t a = New(100);
  const int32_t b = New(100);
  const int32_t c = New(100);
  const int32_t d = New(100);
  Close();
  Patch32(a, kPos, static_cast<uint32_t>(stream.Image().size()) - 50);  // runs past the end
  Patch8(b, kHiPos, 1);                                                   // 4 GiB further
  Patch32(c, kOwner, 0x7FFFFFFF);
  Patch(d, kType, "\xfe\x7f");
  file = std::make_unique<ZorBFile>();
  EXPECT_EQ(ErrorOf([&] { file->OpenOnStream(&stream, &path, 0, -1, -1, -1); }), ZorErr(1, 32));
  Open(kTolerant);
  EXPECT_FALSE(file->CheckDir(nullptr));
  EXPECT_EQ(Items(&ZorBFile::CheckDir),
            (std::vector<std::string>{"E Le block 1 pointe en dehors du fichier.",
                                      "E Le block 2 pointe en dehors du fichier.",
                                      "E La valeur \xab Owner \xbb du block 3 est incorrecte.",
                                      "E La valeur \xab Type \xbb du block 4 est incorrecte."}));
}

TEST_F(BFileCheckTest, BadCloseIsCheckedOnlyWithTheFlagAndItsRepairIsLogged) {
  New(100);
  Close();
  std::string image = stream.Image();
  PutLE32(image.data() + kZorBfHdrState, kZorBfStateBadClose);
  stream.SetImage(image);
  Open(kTolerant);
  EXPECT_TRUE(Items(&ZorBFile::CheckDir).empty());
  EXPECT_TRUE(file->CheckDir(nullptr));
  Reopen(kTolerant | ZorBfOpenCheckBadClose);
  EXPECT_EQ(Items(&ZorBFile::CheckDir), std::vector<std::string>{"E Donn\xe9" "es de fermeture incorrectes."});
  EventRecorder events;
  EXPECT_EQ(Items(&ZorBFile::CheckDir, true), std::vector<std::string>{"R Donn\xe9" "es de fermeture corrig\xe9" "es."});
  ASSERT_EQ(events.texts.size(), 1u);
  EXPECT_EQ(events.texts[0], "Donn\xe9" "es de fermeture corrig\xe9" "es.");
  EXPECT_FALSE(file->IsBadClose(false));
  EXPECT_TRUE(Items(&ZorBFile::CheckDir).empty());
}

class BFileOwnerTypeTest : public BFileCheckTest {
 protected:
  void SetUp() override {
    fileType = 2;
    BFileCheckTest::SetUp();
  }
  int32_t Make(int32_t owner, int16_t type, uint32_t size = 500) {
    ZorHandle data = Bytes(size, static_cast<uint8_t>(owner + type));
    return file->BCreate(&data, owner, type, 0, true);
  }
};

TEST_F(BFileOwnerTypeTest, UnknownBlocksAreReportedThenDeletedAndTheFileCompacted) {
  const int32_t desc = Make(7, 100);
  const int32_t good = Make(7, 3);
  const int32_t orphan = Make(8, 3);  // no description of owner 8
  const int32_t sys = Make(-2, 0);
  const int32_t badSys = Make(-2, 1);
  const int32_t index = Make(7, 103);
  const int32_t wild = Make(7, 50);
  Reopen(0);
  bool sound = true;
  EXPECT_EQ(Items(&ZorBFile::CheckBlockOwnerType, false, 0, &sound),
            (std::vector<std::string>{"E Le bloc 3 est incorrect.", "E Le bloc 5 est incorrect.",
                                      "E Le bloc 7 est incorrect."}));
  EXPECT_FALSE(sound);
  EXPECT_FALSE(file->CheckBlockOwnerType(nullptr));
  EXPECT_EQ(Items(&ZorBFile::CheckBlockOwnerType, true),
            (std::vector<std::string>{"R Le bloc 3 a \xe9t\xe9 supprim\xe9.", "R Le bloc 5 a \xe9t\xe9 supprim\xe9.",
                                      "R Le bloc 7 a \xe9t\xe9 supprim\xe9."}));
  Reopen(0);
  for (int32_t id : {orphan, badSys, wild}) EXPECT_FALSE(file->BExist(id, nullptr)) << id;
  for (int32_t id : {desc, good, sys, index}) EXPECT_TRUE(file->BExist(id, nullptr)) << id;
  EXPECT_EQ(stream.Image().size(), kDataStart + 4 * 500u);
  EXPECT_TRUE(file->CheckBlockOwnerType(nullptr));
}

// ---------------------------------------------------------------- scale

// 500,000 entries in a hand-built image, one overlap at the far end: the
// sweep must find it without comparing every pair.
TEST(BFileCheckScale, HalfAMillionEntriesAreCheckedInLinearithmicTime) {
  constexpr int32_t kCount = 500000;
  constexpr uint32_t kStart = 12001280;  // above 980 + 500,000 * 24, a multiple of 1,024
  std::string image(kStart + kCount * 2u, '\0');
  std::memcpy(image.data(), "ZorBFile", 8);
  PutLE32(image.data() + kZorBfHdrVersion, 1);
  PutLE32(image.data() + kZorBfHdrDataStart, kStart);
  PutLE32(image.data() + kZorBfHdrDirCount, kCount);
  for (int32_t id = 1; id <= kCount; ++id) {
    char* e = image.data() + EntryAt(id);
    PutLE32(e + kPos, kStart + static_cast<uint32_t>(kCount - id) * 2);  // ids in reverse position order
    PutLE32(e + kCap, 2);
    PutLE32(e + kSize, 1);
    PutLE32(e + kOwner, 5);
  }
  // The first extent (block kCount) spills one byte into the next one.
  PutLE32(image.data() + EntryAt(kCount) + kCap, 3);
  FaultStream stream(image);
  ZorFsa path("/tmp/big.zbf");
  ZorBFile f;
  const auto start = std::chrono::steady_clock::now();
  f.OpenOnStream(&stream, &path, ZorBfOpenTolerant, -1, -1, -1);
  EXPECT_TRUE(f.CheckDir(nullptr));
  EXPECT_TRUE(f.CheckLostSpace(nullptr));
  ZorVerif v;
  v.Init();
  EXPECT_FALSE(f.CheckCrossBlock(&v));
  ASSERT_EQ(v.GetNbItem(), 1);
  string text;
  EXPECT_EQ(std::string(v.GetItemComment(1, &text)),
            "Le bloc " + std::to_string(kCount - 1) + " (pos=" + std::to_string(kStart + 2) + " taille=2) se chevauche avec le bloc " +
                std::to_string(kCount) + " (pos=" + std::to_string(kStart) + " taille=3).");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  f.Close(ZorBfCloseAbandon);
}

}  // namespace
