// Resource types and names, loading from the library's section and from a
// development tree of loose files, the resource directory, and the string
// lists read through the cache. The envelope's bytes and the string lists'
// layout have Python oracles of their own (envelope_oracle.py,
// strlist_oracle.py).
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_files.h"
#include "tests/support/test_util.h"

using namespace zorvane;

namespace {

struct Message {
  int32_t id;
  const char* text;
  const char* symbol;
};

constexpr char kUndefined[] = "<undef>";

// A string list laid out as the catalogue compiler does, written through
// the cell container: cells, then the direct index.
std::string MakeList(int32_t group, const std::vector<Message>& messages) {
  ZorDyna d;
  d.Init();
  d.SetData(1, 1, 1, group);
  int32_t count = 0;
  for (const Message& m : messages) {
    d.SetData(2, m.id, 0, 1);
    d.SetData(2, m.id, 1, m.text);
    d.SetData(2, m.id, 3, m.symbol);
    count = std::max(count, m.id);
  }
  std::string index(4 + 4 * count, '\0');
  auto put = [&](size_t at, uint32_t v) { std::memcpy(&index[at], &v, 4); };  // little-endian host
  put(0, static_cast<uint32_t>(count));
  for (int32_t i = 1; i <= count; ++i) put(4 * i, static_cast<uint32_t>(index.size()));
  index.append(kUndefined, sizeof kUndefined);
  for (const Message& m : messages) {
    put(4 * m.id, static_cast<uint32_t>(index.size()));
    index.append(m.text, std::strlen(m.text) + 1);
  }
  d.SetData(0, 0, 0, static_cast<uint32_t>(index.size()), index.data());
  return test::BytesOf(*d.GetHandle());
}

std::string Packed(const std::string& bytes) {
  ZorHandle h;
  h.Init(bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_TRUE(ZorZipHandle(&h));
  return test::BytesOf(h);
}


std::string Load(int32_t module, int32_t group, int32_t id) {
  string out;
  return ZorLoadString(module, group, id, &out);
}

// A modules root in a scratch directory with a development module in it.
class DevTree : public ::testing::Test {
 protected:
  static constexpr int32_t kModule = 7001;
  static constexpr int32_t kLangModule = 7002;
  static constexpr int32_t kUnknown = 7999;

  void SetUp() override {
    ZorFsa root;
    ASSERT_TRUE(root.InitFromSysPath(_tmp.Path().c_str(), true));
    ZorFsa::KRegister(ZorKFsaModules, &root);
    test::RegisterModule(kModule, "devmod");
    test::RegisterModule(kLangModule, "langmod");
    std::filesystem::create_directories(_tmp.File("devmod"));
    std::filesystem::create_directories(_tmp.File("langmod/3"));
  }
  void TearDown() override { ZorFsa::KUnRegister(ZorKFsaModules); }

  zortest::TempDir _tmp;
};

}  // namespace

TEST(RsrcTypes, NamesExtensionsAndSectionTypes) {
  // Every type of the table maps back from its name; an extension shared by
  // several types maps to the first of them.
  int32_t known = 0;
  for (int32_t type = -2; type <= 1001; ++type) {
    try {
      const char* name = ZorGetRsrcTypeName(type);
      ++known;
      EXPECT_EQ(ZorGetRsrcTypeFromTypeName(name), type) << name;
      const char* ext = ZorGetRsrcTypeExt(type);
      if (*ext) {
        EXPECT_STREQ(ZorGetRsrcTypeExt(ZorGetRsrcTypeFromExt(ext + 1)), ext);
      }
    } catch (const ZorEBasic& e) {
      EXPECT_EQ(e.GetError(), ZorErr(1, 7));
      EXPECT_EQ(std::string(e.GetMsgText()), "ZorGetRsrcTypeName: Bad type '" + std::to_string(type) + "'");
    }
  }
  EXPECT_EQ(known, 40);
  const std::map<std::string, int32_t> exts = {
      {"mdesc", ZorRsrcModuleDesc}, {"Bin", ZorRsrcBinary}, {"StrList", ZorRsrcStrList},
      {".StrList", 0} /* without the dot */, {"", 0}};
  for (const auto& [ext, type] : exts) EXPECT_EQ(ZorGetRsrcTypeFromExt(ext.c_str()), type) << ext;
  EXPECT_EQ(ZorGetRsrcTypeFromTypeName("strlist"), ZorRsrcStrList);
  EXPECT_STREQ(ZorGetRsrcTypeExt(ZorRsrcDir), "");

  const std::map<int32_t, uint32_t> sections = {{1, 1001}, {4, 1004}, {7, 1001}, {11, 1001}, {14, 1001}, {9, 12},
                                                {100, 1100}, {997, 1037}, {998, 1004}, {999, 1999}};
  for (const auto& [type, section] : sections) EXPECT_EQ(ZorGetRsrcSectionType(type), section) << type;

  string name("104");
  EXPECT_STREQ(ZorGetRsrcFileName(ZorRsrcStrList, &name), "104.StrList");
  EXPECT_STREQ(ZorGetRsrcFileName(ZorRsrcWorkSpace, 7, &name), "7.WS");
}

TEST(Envelope, ForeignAndSharedRecords) {
  // Unpacking replaces the record's bytes: memory wrapped from outside is
  // never written, and every owner of a shared record sees the new bytes.
  std::string data(5000, 'x');
  for (size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<char>(i);
  std::string packed = Packed(data);
  const std::string original = packed;
  ZorHandle foreign;
  foreign.Attach(ZorCreateHandleFromDataPtr(packed.data(), static_cast<uint32_t>(packed.size())));
  ZorHandle other;
  other.Attach(&foreign);
  ASSERT_TRUE(ZorUnzipHandle(&foreign));
  EXPECT_EQ(test::BytesOf(foreign), data);
  EXPECT_EQ(test::BytesOf(other), data);
  EXPECT_EQ(packed, original);
  EXPECT_FALSE(ZorUnzipHandle(&foreign));  // plain data stays as it is
  EXPECT_EQ(test::BytesOf(foreign), data);
}

TEST(KernelSection, StringListsComeFromTheLibrarysTable) {
  ZorRsrc rsrc;
  ASSERT_TRUE(rsrc.Init(ZorRsrcStrList, 1, 104));
  EXPECT_FALSE(ZorIsHandleZipped(rsrc.GetHandle()));  // unpacked on the way
  ZorStringList list;
  ASSERT_TRUE(list.Init(rsrc.GetHandle()));
  EXPECT_EQ(list.GetGroup(), 104);
  EXPECT_STREQ(list.GetText(339), "Parcours du fichier JSON: ^0s");
  EXPECT_FALSE(ZorIsPackedResource(1));
  EXPECT_FALSE(rsrc.Init(ZorRsrcStrList, 1, 4));  // no such group, and no loose file either
  EXPECT_EQ(rsrc.GetHandle()->GetSize(), 0u);

  // The listing is the set of catalogue files of module 1.
  std::set<int32_t> files;
  const auto dir = std::filesystem::path(__FILE__).parent_path() / "../../resources/messages/module1";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("group", 0) == 0 && entry.path().extension() == ".txt") files.insert(std::stoi(name.substr(5)));
  }
  std::set<int32_t> listed;
  ZorForEachRsrc(1, ZorRsrcStrList, [](void* s, int32_t id) { return static_cast<std::set<int32_t>*>(s)->insert(id), true; },
                 &listed);
  EXPECT_EQ(listed, files);

  std::vector<int32_t> ids;
  const int32_t visited = ZorForEachString(1, 2, [](void* v, int32_t id, const char*, const char* symbol) {
    static_cast<std::vector<int32_t>*>(v)->push_back(id);
    return std::strcmp(symbol, "Write") != 0;  // stop at message 3
  }, &ids);
  EXPECT_EQ(visited, 3);
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(DevTree, LooseFilesPackedOrNotAndLanguagePacks) {
  _tmp.Make("devmod/5.StrList", MakeList(5, {{1, "un", "One"}, {3, "trois", ""}}));
  _tmp.Make("devmod/6.StrList", Packed(MakeList(6, {{2, "deux deux deux deux deux deux", "Two"}})));
  const struct { int32_t group, id; const char* want; } loads[] = {
      {5, 1, "un"}, {5, 2, kUndefined}, {5, 3, "trois"}, {5, 4, ""}, {6, 2, "deux deux deux deux deux deux"}};
  for (const auto& c : loads) EXPECT_EQ(Load(kModule, c.group, c.id), c.want) << c.group << "," << c.id;
  string out;
  EXPECT_STREQ(ZorGetStringIndexCst(kModule, 6, 2, &out), "Two");
  EXPECT_STREQ(ZorLoadString("]7001,5,3", &out), "trois");

  // A module with a language reads its pack only.
  ZorSetModuleLang(kLangModule, 3);
  _tmp.Make("langmod/5.StrList", MakeList(5, {{1, "base", ""}}));
  EXPECT_EQ(Load(kLangModule, 5, 1), "");
  _tmp.Make("langmod/3/5.StrList", MakeList(5, {{1, "langue 3", ""}}));
  EXPECT_EQ(Load(kLangModule, 5, 1), "langue 3");
  ZorFsa path;
  ASSERT_TRUE(ZorGetRsrcTypeFsa(ZorRsrcStrList, kLangModule, 5, &path));
  EXPECT_EQ(path, _tmp.Fsa("langmod/3/5.StrList"));
  ASSERT_TRUE(ZorGetRsrcTypeFsa(ZorRsrcStrList, kLangModule, 5, &path, 4));
  EXPECT_EQ(path, _tmp.Fsa("langmod/4/5.StrList"));
  ZorSetModuleLang(kLangModule, -1);

  std::vector<int32_t> ids;
  ZorForEachRsrc(kModule, ZorRsrcStrList, [](void* v, int32_t id) { return static_cast<std::vector<int32_t>*>(v)->push_back(id), true; },
                 &ids);
  EXPECT_EQ(ids, (std::vector<int32_t>{5, 6}));

  // Keyed look-ups read the first 1000 places of a list only.
  std::vector<std::string> texts;
  std::vector<Message> keyed;
  for (int32_t place = 1; place <= 1001; ++place) texts.push_back(std::to_string(5000 + place) + ":at " + std::to_string(place));
  for (int32_t place = 1; place <= 1001; ++place) keyed.push_back({place, texts[place - 1].c_str(), ""});
  _tmp.Make("devmod/7.StrList", MakeList(7, keyed));
  EXPECT_STREQ(ZorLoadStringIndex(kModule, 7, 6000, &out), "at 1000");
  EXPECT_STREQ(ZorLoadStringIndex(kModule, 7, 6001, &out), "");
}

TEST_F(DevTree, MissingResourcesModulesAndCursors) {
  ZorRsrc rsrc;
  EXPECT_FALSE(rsrc.Init(ZorRsrcBinary, kModule, 77));
  EXPECT_TRUE(rsrc.IsInit());
  EXPECT_EQ(rsrc.GetHandle()->GetSize(), 0u);

  try {
    rsrc.Init(ZorRsrcBinary, kUnknown, 77);
    ADD_FAILURE() << "a module without a directory must raise";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 10));
    EXPECT_STREQ(e.GetMsgText(), "_loadRsrc Rsrc type 37, Mod id 7999, Rsrc id 77, Fsa ");
  }
  EXPECT_FALSE(rsrc.Init(ZorRsrcBinary, kUnknown, 77, ZorRsrcQuiet));
  EXPECT_EQ(Load(kUnknown, 5, 1), "");  // look-ups never raise
  EXPECT_THROW(rsrc.Init(12, kModule, 1), ZorEBasic);

  // Cursors come only from a section, even when a loose file exists; other
  // types take the loose file, unpacked.
  const std::string body = Packed(std::string(100, 'c'));
  _tmp.Make("devmod/3.Cur", body);
  _tmp.Make("devmod/3.Bin", body);
  EXPECT_FALSE(rsrc.Init(ZorRsrcCursor, kModule, 3));
  ASSERT_TRUE(rsrc.Init(ZorRsrcBinary, kModule, 3));
  EXPECT_EQ(test::BytesOf(*rsrc.GetHandle()), std::string(100, 'c'));
}

TEST_F(DevTree, ConcurrentFirstLoadsShareOneCachedList) {
  constexpr int32_t kGroups = 24;
  for (int32_t g = 1; g <= kGroups; ++g) {
    const std::string text = "message " + std::to_string(g);
    _tmp.Make("devmod/" + std::to_string(100 + g) + ".StrList", MakeList(100 + g, {{g, text.c_str(), ""}}));
  }
  std::vector<std::thread> threads;
  std::vector<int> errors(6, 0);
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([t, &errors] {
      for (int round = 0; round < 50; ++round) {
        const int32_t g = 1 + (t * 7 + round) % kGroups;
        if (Load(kModule, 100 + g, g) != "message " + std::to_string(g)) ++errors[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(errors, std::vector<int>(6, 0));
  // A cached list stays as it was loaded.
  _tmp.Make("devmod/101.StrList", MakeList(101, {{1, "changed", ""}}));
  EXPECT_EQ(Load(kModule, 101, 1), "message 1");
}

TEST(ResourceDirectory, ExtractsUnpackedEntries) {
  const std::string list = MakeList(9, {{1, "dans le repertoire", ""}});
  ZorDyna dir;
  dir.Init();
  const std::string packed = Packed(list);
  dir.SetData(ZorRsrcStrList, 9, 0, static_cast<uint32_t>(packed.size()), packed.data());
  ZorHandle in, out;
  in.Copy(dir.GetHandle());
  ASSERT_TRUE(ZorExtractResource(ZorRsrcStrList, 9, &in, &out));
  EXPECT_EQ(test::BytesOf(out), list);
  ZorZipHandle(&in);  // the directory itself may be packed
  ASSERT_TRUE(ZorExtractResource(ZorRsrcStrList, 9, &in, &out));
  EXPECT_EQ(test::BytesOf(out), list);
  EXPECT_FALSE(ZorExtractResource(ZorRsrcStrList, 10, &in, &out));
  EXPECT_EQ(out.GetSize(), 0u);
  ZorReleaseResource(&out);
  EXPECT_FALSE(out.IsInit());
}
