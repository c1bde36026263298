// Block file compaction and checks: what the format oracle
// (block_file_format_oracle.py, which re-derives reports, waste and
// compaction results from the raw bytes of random and damaged files) does
// not reach: the exact waste threshold, the alerts and the progress display,
// cancelling, a directory that compaction must refuse, one-byte overlaps,
// the event written by the bad-close repair, and the scale of the checks.
// Compaction inside transactions is the model test's; interrupted
// compactions are the power-cut test's.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <chrono>

#include "support/event_recorder.h"
#include "support/block_file_kit.h"
#include "support/progress_double.h"
#include "support/recording_ui.h"

using namespace zorvane;
using namespace zortest;
using zorvane::test::ErrorOf;

namespace {

// A check's items as "E text" (fault) / "R text" (repaired) lines.
std::vector<std::string> Items(ZorBFile& f, bool (ZorBFile::*check)(ZorVerif*), bool repair = false) {
  ZorVerif v;
  v.Init(repair, 0);
  (f.*check)(&v);
  std::vector<std::string> out;
  string text;
  sZorVerifItem item;
  for (int32_t i = 1; v.GetItem(i, &item); ++i)
    out.push_back((item.type == kZorVerifRepaired ? "R " : "E ") + std::string(v.GetItemComment(i, &text)));
  return out;
}

// One block of capacity 4,000 in a file of 29,600 bytes: 10 % is 2,960 bytes
// of spare capacity, that is a size of 1,040.
TEST(BFileCompact, NeedCompactTenPercentThreshold) {
  TestFile<> m;
  const int32_t id = m.Create(Pattern(1040, 1), 1, 1, 4000);
  m.Reopen();
  ASSERT_EQ(m.stream.Image().size(), 29600u);
  EXPECT_TRUE(m.file.NeedCompact(ZorBfCompact10Percent));
  m.Write(id, Pattern(1041, 1));
  EXPECT_FALSE(m.file.NeedCompact(ZorBfCompact10Percent));
  EXPECT_TRUE(m.file.NeedCompact(ZorBfCompactAny));
  EXPECT_FALSE(m.file.NeedCompact(static_cast<eZorBfCompact>(4)));
  // Counted in whole hundredths: 3,000 of 30,050 bytes is 10 of 300.
  m.file.EmptyFile(false);
  m.Create(Pattern(1450, 1), 1, 1, 4450);
  m.Reopen();
  ASSERT_EQ(m.stream.Image().size(), 30050u);
  EXPECT_TRUE(m.file.NeedCompact(ZorBfCompact10Percent));
}

TEST(BFileCompact, NothingToDoOrReadOnlyChangesNothingAndSaysSo) {
  TestFile<> m;
  m.path = ZorFsa("/tmp/check test.zbf");
  m.Create(Pattern(500, 1));
  m.Reopen();
  const std::string before = m.stream.Image();
  m.stream.ClearRecords();
  RecordingUi ui;
  EXPECT_FALSE(m.file.Compact(ZorBfCompactAll, true, true));
  EXPECT_EQ(m.stream.Image(), before);
  EXPECT_TRUE(m.stream.Writes().empty());
  m.Write(1, Pattern(300, 1));  // waste to compact
  m.file.Close(ZorBfCloseNormal);
  // A read-only stream: the file opens without write permission.
  FaultStream ro(m.stream.Image());
  ro.readOnly = true;
  ZorBFile f;
  f.OpenOnStream(&ro, &m.path, 0, -1, -1, -1);
  EXPECT_TRUE(f.NeedCompact(ZorBfCompactAny));
  EXPECT_FALSE(f.Compact(ZorBfCompactAny, true, false));
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].text, "Le fichier \"/tmp/check test.zbf\" ne n\xe9" "cessite pas de compactage");
  EXPECT_EQ(ui.boxes[1].text, " Le fichier \"/tmp/check test.zbf\" est prot\xe9g\xe9 en \xe9" "criture et ne peut \xea"
                              "tre compact\xe9.");
  f.Close(ZorBfCloseAbandon);
}

// Cancelled during its scan, a compaction changes nothing and leaves the
// crash counter at 0; run to its end it shows two phases titled with the
// file name, the first over the blocks that have an extent.
TEST(BFileCompact, ProgressShowsTwoPhasesAndACancelChangesNothing) {
  TestFile<> m;
  m.path = ZorFsa("/tmp/check test.zbf");
  m.Create(Pattern(300, 1), 1, 1, 5000);
  m.file.BCreate(nullptr, 1, 1, 2000, true);
  m.Reopen();
  const std::string before = m.stream.Image();
  RecordingProgress cancel;
  cancel.cancelAtStep = 1;
  EXPECT_EQ(ZorErr(1, 1000), ErrorOf([&] { m.file.Compact(ZorBfCompactAny, false, true, &cancel); }));
  EXPECT_EQ(m.file.GetCrashFlag(false), 0);
  m.Reopen();  // opens: the crash counter went back to 0
  EXPECT_EQ(m.stream.Image().substr(25600), before.substr(25600));
  RecordingProgress progress;
  ASSERT_TRUE(m.file.Compact(ZorBfCompactAll, false, true, &progress));
  EXPECT_EQ(progress.begins, 2);
  EXPECT_EQ(progress.ends, 2);
  EXPECT_EQ(progress.beginTitle, "Compactage du fichier /tmp/check test.zbf");
  EXPECT_EQ(progress.beginTotal, 2);
}

// A size above the capacity would make the copy read past the extent (or
// allocate 4 GiB): a damaged directory is refused before anything changes.
TEST(BFileCompact, RefusesADamagedDirectory) {
  TestFile<> m;
  m.Create(Pattern(100, 1), 1, 1, 2000);
  const int32_t b = m.Create(Pattern(100, 2), 1, 1, 2000);
  m.file.Close(ZorBfCloseNormal);
  m.Patch32(980 + (b - 1) * 24 + 8, 0xFFFFFFFF);
  const std::string before = m.stream.Image();
  m.Open(ZorBfOpenTolerant);
  EXPECT_LIB_ERROR(32, m.file.Compact(ZorBfCompactAny, false, false));
  EXPECT_EQ(m.file.GetCrashFlag(false), 0);
  EXPECT_EQ(m.stream.Image().substr(25600), before.substr(25600));
}

// With a verifier the checks are cancellable work; without one (the check
// of an opening) they are not. A cancelled salvage leaves no output.
TEST(BFileChecks, TheUserBreakCancelsChecksWithAVerifierAndSalvage) {
  TestFile<> m(0, -1, true);
  m.Create("x");
  m.file.SetFType(2);  // CheckBlockOwnerType looks at database files only
  ZorSetUserBreak(true);
  for (auto check : {&ZorBFile::CheckDir, &ZorBFile::CheckCrossBlock, &ZorBFile::CheckLostSpace,
                     &ZorBFile::CheckBlockOwnerType})
    EXPECT_EQ(ZorErr(1, 1000), ErrorOf([&] { Items(m.file, check); }));
  EXPECT_TRUE(m.file.CheckDir(nullptr));
  m.file.Close(ZorBfCloseNormal);
  const ZorFsa out = m.dir.Fsa("out.zbf");
  EXPECT_EQ(ZorErr(1, 1000), ErrorOf([&] { ZorBFile::Salvage(&m.path, &out, nullptr, nullptr, nullptr); }));
  ZorSetUserBreak(false);
  EXPECT_FALSE(ZorFsaCmd(&out).Exists());
}

TEST(BFileChecks, BlocksSharingOneByteAreReportedOnceLowerIdFirst) {
  TestFile<> m;
  for (int i = 0; i < 3; ++i) m.Create(Pattern(100, 1));
  m.file.Close(ZorBfCloseNormal);
  // Block 1 now is the last byte of block 2: the lower id, the higher position.
  const uint32_t posB = static_cast<uint32_t>(EntryAt(m.stream.Image(), 2).pos);
  for (const auto& [at, v] : {std::pair<size_t, uint32_t>{0, posB + 99}, {4, 1}, {8, 1}}) m.Patch32(980 + at, v);
  m.Open(ZorBfOpenTolerant);
  EXPECT_EQ(Items(m.file, &ZorBFile::CheckCrossBlock),
            std::vector<std::string>{"E Le bloc 1 (pos=" + std::to_string(posB + 99) +
                                     " taille=1) se chevauche avec le bloc 2 (pos=" + std::to_string(posB) +
                                     " taille=100)."});
  EXPECT_FALSE(m.file.CheckCrossBlock(nullptr));
}

TEST(BFileChecks, BadCloseIsCheckedOnlyWithTheFlagAndItsRepairIsLogged) {
  TestFile<> m;
  m.file.Close(ZorBfCloseNormal);
  m.Patch32(kZorBfHdrState, kZorBfStateBadClose);
  m.Open(ZorBfOpenTolerant);
  EXPECT_TRUE(Items(m.file, &ZorBFile::CheckDir).empty());
  m.Reopen(ZorBfOpenTolerant | ZorBfOpenCheckBadClose);
  EXPECT_EQ(Items(m.file, &ZorBFile::CheckDir), std::vector<std::string>{"E Donn\xe9" "es de fermeture incorrectes."});
  EventRecorder events;
  const std::string fixed = "Donn\xe9" "es de fermeture corrig\xe9" "es.";
  EXPECT_EQ(Items(m.file, &ZorBFile::CheckDir, true), std::vector<std::string>{"R " + fixed});
  EXPECT_EQ(events.texts, std::vector<std::string>{fixed});
  EXPECT_FALSE(m.file.IsBadClose(false));
}

// 500,000 entries in a hand-built image, one overlap at the far end: the
// sweep must find it without comparing every pair.
TEST(BFileChecks, HalfAMillionEntriesAreCheckedInLinearithmicTime) {
  constexpr int32_t kCount = 500000;
  constexpr uint32_t kStart = 12001280;  // above 980 + 500,000 * 24, a multiple of 1,024
  FaultStream seed;
  ZorBFile::CreateOnStream(&seed, 0, 0, nullptr);
  std::string image = seed.Image().substr(0, 980);
  image.resize(kStart + kCount * 2u, '\0');
  PutLe32(&image, kZorBfHdrDataStart, kStart);
  PutLe32(&image, kZorBfHdrDirCount, kCount);
  for (int32_t id = 1; id <= kCount; ++id) {
    const size_t e = 980 + static_cast<size_t>(id - 1) * 24;
    PutLe32(&image, e, kStart + static_cast<uint32_t>(kCount - id) * 2);  // ids in reverse position order
    PutLe32(&image, e + 4, id == kCount ? 3 : 2);  // the first extent spills into the next one
    PutLe32(&image, e + 8, 1);
    PutLe32(&image, e + 12, 5);
  }
  FaultStream stream(image);
  ZorBFile f;
  const auto start = std::chrono::steady_clock::now();
  f.OpenOnStream(&stream, nullptr, ZorBfOpenTolerant, -1, -1, -1);
  EXPECT_TRUE(f.CheckDir(nullptr));
  EXPECT_TRUE(f.CheckLostSpace(nullptr));
  EXPECT_EQ(Items(f, &ZorBFile::CheckCrossBlock),
            std::vector<std::string>{"E Le bloc " + std::to_string(kCount - 1) + " (pos=" + std::to_string(kStart + 2) +
                                     " taille=2) se chevauche avec le bloc " + std::to_string(kCount) +
                                     " (pos=" + std::to_string(kStart) + " taille=3)."});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  f.Close(ZorBfCloseAbandon);
}

}  // namespace
