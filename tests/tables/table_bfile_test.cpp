// Block-file tables, what the cursor model does not see: the stored bytes
// of the sequential-index store (decoded here from the raw blocks),
// refusals that leave the file byte for byte as it was, blobs and dynamic
// parts across a reopen, reuse of deleted ids, reorganisation, structure
// upgrades and read-only files.
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <string>

#include "support/block_file_kit.h"
#include "support/table_bfile_kit.h"
#include "support/test_util.h"
#include "tables/store/store_bfile_internal.h"

namespace zorvane {
namespace {

const int64_t kTid = zortest::TableIdOf(3);
const int32_t kOwner = (1 << 9) + 3;

uint32_t Le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

// Id (Long, index 1), Name (text, index 2), Note (text), and what a test
// adds before the description is validated.
void MakeDesc(ZorTableDesc* d, int32_t nameLen, int32_t noteLen, uint32_t flags = 0,
              const std::function<void(ZorTableDesc*)>& more = nullptr) {
  d->Create(kZorTblTypeStd, 0);
  d->SetName("Clients");
  d->SetFlags(flags);
  const int32_t id = d->AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
  const int32_t name = d->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, nameLen, kZorTblFfValid, 0, 0);
  d->AddField("Note", kZorPhysTypeAnsiString, kZorLogTypeText, true, noteLen, kZorTblFfValid, 0, 0);
  if (more) more(d);
  d->SetSubIndex(d->AddIndex(0), 1, id, 0);
  d->SetSubIndex(d->AddIndex(0), 1, name, 0);
  d->Validate();
}

struct Home {
  explicit Home(bool onDisk = false) : file(ZorBfOpenCopyOnWrite, -1, onDisk), base(&file.file) {}
  void Open(ZorTable* t, ZorTableDesc* d) {
    if (!base.IsTableExist(kTid)) base.CreateTable(d, kTid);
    t->Open(&base, kTid);
  }
  // The table Clients as MakeDesc describes it, opened on t.
  ZorTable& Table(int32_t nameLen, int32_t noteLen, uint32_t flags = 0,
                  const std::function<void(ZorTableDesc*)>& more = nullptr) {
    MakeDesc(&d, nameLen, noteLen, flags, more);
    Open(&t, &d);
    return t;
  }
  void Reopen(ZorTable* t) {
    t->Trash();
    file.Reopen(ZorBfOpenCopyOnWrite);
    t->Open(&base, kTid);
    ZorVerif report;
    EXPECT_TRUE(dynamic_cast<ZorTSBFile*>(t->GetStocker())->Verify(t, &report));
    EXPECT_TRUE(file.file.CheckDir(&report) && file.file.CheckCrossBlock(&report));
  }
  std::string Block(int16_t type, int32_t owner = kOwner) {
    ZorHandle h;
    file.file.BReadCopy(file.file.BGetOTBlockId(owner, type, 0), &h);
    return std::string(static_cast<const char*>(h.GetDatas()), h.GetSize());
  }
  int32_t Blocks(int16_t typeFrom, int16_t typeTo) {
    ZorBGet ids(0, 4);
    file.file.BGetID(kOwner, kOwner, typeFrom, typeTo, &ids, 0, true);
    return ids.GetNbItem();
  }
  zortest::TestFile<> file;
  zortest::BFileTables base;
  ZorTableDesc d;
  ZorTable t;
};

uint32_t Put(ZorTable* t, int32_t id, const std::string& name) {
  t->Raz();
  t->SetValLong(1, id);
  t->SetValStr(2, name.c_str());
  return t->Write();
}

std::string NameOf(int32_t i) {
  std::string s(20, 'a');
  for (int32_t k = 19; k >= 0 && i; --k, i /= 26) s[k] = static_cast<char>('a' + i % 26);
  return s;
}

TEST(TableBFile, SequentialIndexStoreLayout) {
  Home home;
  ZorTable& t = home.Table(20, 74);
  ASSERT_EQ(t.GetBufferSize(), 100u);
  ASSERT_EQ(t.GetKeyLen(2), 20);
  t.Lock(nullptr);
  for (int32_t i = 1; i <= 2731; ++i) ASSERT_NE(Put(&t, i, NameOf(i)), 0u);
  t.Unlock();

  const std::string dir = home.Block(kZorTbBlkDir);
  const uint32_t width = Le32(dir, 4), item = width + 8;
  EXPECT_EQ(width, 21u);  // the longest key + 1
  EXPECT_EQ(Le32(dir, 8), 2731u);
  EXPECT_EQ(Le32(dir, 12), 2731u);
  EXPECT_EQ(Le32(dir, 16), 630u);  // 65,535 / 104
  ASSERT_EQ((dir.size() - 128) % item, 0u);
  // Items: 5 data blocks ('0'), index 1's closing leaf ('3'), index 2 split
  // into a leaf of 1,366 entries ('4', its last key) and its closing leaf.
  std::string tags, counts;
  for (size_t at = 128; at < dir.size(); at += item) {
    tags += dir[at + 8];
    counts += std::to_string(Le32(dir, at + 4)) + " ";
  }
  EXPECT_EQ(tags, "00000345");
  ASSERT_EQ(home.Blocks(1, 2), 3);
  EXPECT_EQ(counts, "630 630 630 630 211 2731 1366 1365 ");
}

TEST(TableBFile, FirstIdsAndRecordsPerBlock) {
  Home home;
  ZorTable& t = home.Table(20, 74);
  t.Lock(nullptr);
  const uint32_t first = Put(&t, 1, "a");
  for (int32_t i = 2; i <= 630; ++i) Put(&t, i, NameOf(i));
  const uint32_t second = Put(&t, 631, "b");
  t.Unlock();
  const std::string dir = home.Block(kZorTbBlkDir);
  EXPECT_EQ(first, Le32(dir, 128) * 8192 + 1);
  EXPECT_EQ(second, Le32(dir, 128 + Le32(dir, 4) + 8) * 8192 + 1);

  Home other;
  MakeDesc(&other.d, 20, 74);
  int32_t max = 10000;
  other.d.GetMaxData(&max);
  other.Open(&t, &other.d);
  EXPECT_EQ(Le32(other.Block(kZorTbBlkDir), 16), 8191u);
}

// Every refusal comes before any write: the committed file is unchanged.
TEST(TableBFile, RefusalsLeaveTheFileAsItWas) {
  for (const uint32_t flags : {0u, uint32_t{kZorTblTfSmall}}) {
    SCOPED_TRACE(flags);
    Home home;
    ZorTable& t = home.Table(8, 8, flags);
    for (int32_t i = 1; i <= 40; ++i) Put(&t, i, "n" + std::to_string(i));
    const std::string before = home.file.Image();
    EXPECT_EQ(test::ErrorOf([&] { Put(&t, 99, "N7"); }), ZorErr(1, 48));  // index 2 only, another case
    EXPECT_EQ(test::ErrorOf([&] { Put(&t, 7, "new"); }), ZorErr(1, 48));
    ASSERT_TRUE(t.ReadUD(t.GetUDFromN(3)));
    t.SetValStr(2, "n9");
    EXPECT_EQ(test::ErrorOf([&] { t.UpDate(); }), ZorErr(1, 48));
    t.Delete();
    const std::string afterDelete = home.file.Image();
    if (!flags) {
      EXPECT_EQ(test::ErrorOf([&] { t.Delete(); }), ZorErr(1, 49));
      EXPECT_EQ(home.file.Image(), afterDelete);
    }
    EXPECT_NE(afterDelete, before);
    t.Trash();
    home.file.file.Close(ZorBfCloseAbandon);
    home.file.SetImage(before);
    home.Reopen(&t);
    EXPECT_EQ(t.GetNbRecord(), 40);
  }
}

TEST(TableBFile, BlobsAndDynamicPartsFollowTheirRecords) {
  for (const uint32_t flags : {0u, uint32_t{kZorTblTfSmall}}) {
    SCOPED_TRACE(flags);
    Home home;
    int32_t blob = 0, memo = 0;
    ZorTable& t = home.Table(8, 8, flags, [&](ZorTableDesc* x) {
      blob = x->AddField("Photo", kZorPhysTypeBlobRef, kZorLogTypePict, true, 0, kZorTblFfValid, 0, 0);
      memo = x->AddField("Memo", kZorPhysTypeAnsiString, kZorLogTypeText, true, 200, kZorTblFfValid | kZorTblFfDyna, 0, 0);
    });
    for (int32_t i = 1; i <= 3; ++i) {
      t.Raz();
      t.SetValLong(1, i);
      t.SetValStr(2, std::to_string(i).c_str());
      ZorHandle photo = test::HandleOf(std::string(100 * i, 'p').c_str());
      t.SetValHandle(blob, &photo);
      t.SetValStr(memo, ("memo " + std::to_string(i)).c_str());
      t.Write();
    }
    home.Reopen(&t);
    string s;
    ZorHandle got;
    ASSERT_TRUE(t.ReadN(2));
    EXPECT_STREQ(t.GetValStr(memo, &s), "memo 2");
    t.GetValHandle(blob, &got);
    EXPECT_EQ(got.GetSize(), 200u);
    t.SetValStr(memo, "");
    t.UpDate();
    EXPECT_EQ(home.Blocks(-blob, -blob), 3);
    t.Delete();
    EXPECT_EQ(home.Blocks(-blob, -blob), 2);
    home.Reopen(&t);
    ASSERT_TRUE(t.ReadUD(t.GetUDFromN(1)));
    EXPECT_STREQ(t.GetValStr(memo, &s), "memo 1");
    t.Delete();
    ASSERT_TRUE(t.First());
    t.Delete();
    home.Reopen(&t);
    EXPECT_EQ(home.Blocks(-32768, -1), 0);
    EXPECT_EQ(home.Blocks(kZorTbBlkDyna, kZorTbBlkDyna), flags ? 1 : 0);
  }
}

TEST(TableBFile, DeletedIdsReorganisationAndInsuredSequence) {
  for (const uint32_t flags : {0u, uint32_t{kZorTblTfInsureSeq}}) {
    Home home;
    ZorTable& t = home.Table(8, 8, flags);
    std::vector<uint32_t> uds;
    for (int32_t i = 1; i <= 6; ++i) uds.push_back(Put(&t, i, "n" + std::to_string(i)));
    for (const uint32_t ud : {uds[1], uds[4]}) t.ReadUD(ud), t.Delete();
    EXPECT_EQ(t.GetNbDelRec(), 2);
    EXPECT_EQ(Put(&t, 7, "n7"), flags ? uds[5] + 1 : uds[4]);
    EXPECT_EQ(t.GetNbDelRec(), flags ? 2 : 1);
    ASSERT_TRUE(t.Reorg(false));
    EXPECT_EQ(t.GetNbDelRec(), 0);
    EXPECT_EQ(t.GetNbRecord(), 5);
    t.SetCurIndex(2);
    std::string names;
    string s;
    for (bool ok = t.First(); ok; ok = t.Next()) names += std::string(t.GetValStr(2, &s)) + " ";
    EXPECT_EQ(names, "n1 n3 n4 n6 n7 ");
    home.Reopen(&t);
  }
}

TEST(TableBFile, StructureUpgrades) {
  for (const uint32_t flags : {0u, uint32_t{kZorTblTfSmall}}) {
    for (const uint32_t how : {0u, uint32_t{kZorUpgCopy | kZorUpgKeepIds}, uint32_t{kZorUpgEmpty}}) {
      SCOPED_TRACE(std::to_string(flags) + " " + std::to_string(how));
      Home home;
      ZorTable& t = home.Table(8, 8, flags);
      for (int32_t i = 1; i <= 30; ++i) Put(&t, i, "n" + std::to_string(i));
      ZorTable other;
      other.Open(&home.base, kTid);
      ZorTableDesc next;
      MakeDesc(&next, 12, 8, flags, [](ZorTableDesc* x) {
        x->AddField("Extra", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
      });
      next.SetTId(kTid, false);
      next.SetStorage(kZorTblStorBFile);
      EXPECT_EQ(test::ErrorOf([&] { t.StructUpgrade(&next, how, nullptr); }), ZorErr(1, 45));
      other.Trash();
      next.SetTId(zortest::TableIdOf(4), false);  // another table's id
      home.base.CreateTable(&home.d, zortest::TableIdOf(4));
      EXPECT_EQ(test::ErrorOf([&] { t.StructUpgrade(&next, how, nullptr); }), ZorErr(1, 40));
      next.SetTId(kTid, false);
      ASSERT_TRUE(t.StructUpgrade(&next, how, nullptr));
      EXPECT_EQ(t.GetNbField(), 4);
      EXPECT_EQ(t.GetNbRecord(), how == kZorUpgEmpty ? 0 : 30);
      home.Reopen(&t);
      if (how == kZorUpgEmpty) continue;
      t.Raz();
      t.SetValLong(1, 17);
      ASSERT_TRUE(t.Read(kZorTblFindEqual, 1));
      string s;
      EXPECT_STREQ(t.GetValStr(2, &s), "n17");
      EXPECT_EQ(t.GetValLong(4), 0);
    }
  }
}

TEST(TableBFile, ReadOnlyFilesKeepTheirTables) {
  Home home(true);
  MakeDesc(&home.d, 8, 8);
  home.base.CreateTable(&home.d, kTid);
  home.file.file.Close(ZorBfCloseNormal);
  ZorBFile ro;
  ro.Open(&home.file.path, ZorPermRead, ZorShareRead, 0, -1, zortest::kKitType, zortest::kKitSignature);
  zortest::BFileTables base(&ro);
  ZorTable t;
  t.Open(&base, kTid);
  EXPECT_EQ(t.GetNbRecord(), 0);
  EXPECT_FALSE(t.First());
  EXPECT_EQ(ro.BGetOTBlockId(kOwner, kZorTbBlkDir, 0), 0);
  EXPECT_EQ(test::ErrorOf([&] { Put(&t, 1, "x"); }), ZorErr(1, 24));
  t.Trash();
  ro.Close(ZorBfCloseNormal);
  EXPECT_EQ(test::ErrorOf([&] { t.Open(&base, kTid); }), ZorErr(1, 41));  // the file is gone
}

// A cursor keeps what positions in key order it has computed while the
// table's data version holds: another cursor's writes change the version,
// and the positions follow, on each index in turn.
TEST(TableBFile, PositionsFollowAnotherCursorsWrites) {
  struct SmallLeaves {
    SmallLeaves() { tbf::gLeafBudget = 24; }  // one Name or three Ids per leaf
    ~SmallLeaves() { tbf::gLeafBudget = tbf::kBlockBudget; }
  } small;
  Home home;
  ZorTable& writer = home.Table(20, 8);
  ZorTable reader;
  home.Open(&reader, &home.d);
  uint32_t eight = 0;
  for (int32_t i = 2; i <= 8; i += 2) eight = Put(&writer, i, NameOf(i));
  auto expectPlace = [&](int32_t n) {
    for (int32_t index : {1, 2, 1}) {
      reader.SetCurIndex(index);
      EXPECT_EQ(reader.GetNFromUD(eight), n) << "index " << index;
    }
  };
  expectPlace(4);
  for (int32_t first = 1; first >= 0; --first) {
    Put(&writer, first, NameOf(first));  // sorts first on both indexes
    expectPlace(6 - first);
  }
}

}  // namespace
}  // namespace zorvane
