// The module registry against the test plug-ins of tests/resources/plugins
// (built into ZOR_TEST_MODULES_DIR as <name>/<name>.so):
//   4242 zortest_plugin   plug-in with its own resources and string lists
//   4243 zortest_noentry  plug-in library without the entry point
//   4244 zortest_bare     plug-in without a resource table of its own (its
//                         dependency zortest_dep has one)
//   4245 zortest_missing  no library file
//   4246 zortest_empty    an empty resource table of its own
// Each test registers what it needs (registering again is harmless).
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <zorvane/zorvane.h>

#include "support/channels.h"
#include "support/temp_files.h"
#include "support/test_util.h"
#include "tests/resources/plugins/test_plugin.h"

using namespace zorvane;

namespace {

constexpr int32_t kMissingId = 4245;
constexpr int32_t kAppId = 9000;

std::string ModulesDir() { return ZOR_TEST_MODULES_DIR; }
std::string LibraryOf(const char* name) { return ModulesDir() + "/" + name + "/" + name + ".so"; }

void UseTestModules() {
  ZorFsa root;
  ASSERT_TRUE(root.InitFromSysPath(ModulesDir().c_str(), true));
  ZorFsa::KRegister(ZorKFsaModules, &root);
  test::RegisterModule(zortest::kPluginId, "zortest_plugin", ZorModuleFlagPlugIn, true);
  test::RegisterModule(zortest::kNoEntryId, "zortest_noentry", ZorModuleFlagPlugIn);
  test::RegisterModule(zortest::kBareId, "zortest_bare", ZorModuleFlagPlugIn);
  test::RegisterModule(kMissingId, "zortest_missing", 0);
}

struct WithTestModules : ::testing::Test {
  void SetUp() override { UseTestModules(); }
};
using ModuleLoad = WithTestModules;
using ModuleRsrc = WithTestModules;
using ModuleTypes = WithTestModules;

int LoadedObjects() {
  int n = 0;
  dl_iterate_phdr([](dl_phdr_info*, size_t, void* count) { return ++*static_cast<int*>(count), 0; }, &n);
  return n;
}

}  // namespace

TEST(ModuleKernel, IsModuleOneAndNeverLoadsAnything) {
  const int before = LoadedObjects();
  ZorModule* kernel = ZorGetKernelModule();
  ASSERT_NE(kernel, nullptr);
  const int32_t locks = kernel->GetLockCount();
  {
    ZorLock guard;
    EXPECT_EQ(ZorGetModule(ZorKernelModuleId, &guard), kernel);
    EXPECT_EQ(kernel->GetLockCount(), locks + 1);
    EXPECT_TRUE(kernel->IsLocked());
  }
  EXPECT_EQ(kernel->GetLockCount(), locks);
  EXPECT_EQ(LoadedObjects(), before);
  EXPECT_EQ(kernel->GetModuleId(), ZorKernelModuleId);
  EXPECT_EQ(ZorGetModuleObject(), kernel);  // the library's own entry point
  // The base class answers nothing.
  EXPECT_EQ(kernel->QueryInterface(ZorQiPrefHandler), nullptr);
  EXPECT_EQ(kernel->HandleMessage(ZorModuleMsgPlugIn, 0, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(kernel->HandleUtil(static_cast<eZorUtilAction>(1), 0, false), 0);
  EXPECT_EQ(kernel->HandlePref(static_cast<eZorPrefAction>(1), 0, false), 0);
}

TEST(ModuleKernel, InstanceIsTheLibrarysOwnObject) {
  Dl_info info{};
  ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&ZorGetKernelModule), &info));
  void* self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(ZorGetModuleInstance(ZorKernelModuleId, false), self);
  EXPECT_EQ(ZorGetRsrcInstance(ZorKernelModuleId, false), self);
  EXPECT_EQ(ZorGetKernelModule()->GetInstance(), self);
  string path;
  EXPECT_STREQ(ZorGetModulePath(ZorKernelModuleId, &path), info.dli_fname);
  dlclose(self);
}

TEST(ModuleKernel, PresenceAndVersion) {
  EXPECT_TRUE(ZorIsModulePresent(ZorKernelModuleId));
  EXPECT_FALSE(ZorIsModulePresent(0));
  test::RegisterModule(0, "zero", 0);  // even a record under 0 is no module
  EXPECT_FALSE(ZorIsModulePresent(0));
  EXPECT_FALSE(ZorIsModulePresent(777777));
  string text;
  const uint32_t version = ZorGetModuleVersion(ZorKernelModuleId, &text);
  unsigned a = 0, b = 0, c = 0;
  ASSERT_EQ(std::sscanf(text.CStr(), "%u.%u.%u", &a, &b, &c), 3);
  EXPECT_EQ(version, a << 16 | b << 8 | c);
  EXPECT_EQ(ZorGetModuleVersion(777777, &text), 0u);
  EXPECT_STREQ(text.CStr(), "");
}

TEST_F(ModuleLoad, PluginIsLoadedFromItsDirectory) {
  ZorLock guard;
  ZorModule* module = ZorGetModule(zortest::kPluginId, &guard);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->GetModuleId(), zortest::kPluginId);
  EXPECT_NE(module, ZorGetKernelModule());
  EXPECT_EQ(module->GetInstance(), ZorGetModuleInstance(zortest::kPluginId, false));
  string path;
  EXPECT_EQ(std::string(ZorGetModulePath(zortest::kPluginId, &path)), LibraryOf("zortest_plugin"));
  void* byPath = dlopen(LibraryOf("zortest_plugin").c_str(), RTLD_LAZY | RTLD_NOLOAD);
  EXPECT_EQ(byPath, module->GetInstance());
  if (byPath) dlclose(byPath);

  iZorInterface* answer = module->QueryInterface(zortest::kAnswerQi);
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer->QueryInterface(zortest::kAnswerQi), answer);
  EXPECT_EQ(module->QueryInterface(ZorQiPrefHandler), nullptr);

  ZorLock second;
  EXPECT_EQ(ZorGetModule(zortest::kPluginId, &second), module);  // loaded once, kept
  EXPECT_GE(module->GetLockCount(), 2);
  EXPECT_TRUE(ZorIsZorModule(LibraryOf("zortest_plugin").c_str()));
}

// Failed loads give null without raising; the loader's reason goes to the
// debug channel.
TEST_F(ModuleLoad, FailuresGiveNullWithoutRaising) {
  test::Channels channels;
  EXPECT_NO_THROW(EXPECT_EQ(ZorGetModule(kMissingId, nullptr), nullptr));
  EXPECT_EQ(ZorGetModuleInstance(kMissingId, true), nullptr);
  EXPECT_TRUE(channels.Has("zortest_missing"));  // names the file
  EXPECT_EQ(ZorGetModule(777777, nullptr), nullptr);  // not registered
  EXPECT_FALSE(ZorIsZorModule(LibraryOf("zortest_missing").c_str()));
  EXPECT_FALSE(ZorIsZorModule(nullptr));

  // Without an entry point of its own: dlsym from this library would reach
  // the kernel's entry point.
  void* raw = dlopen(LibraryOf("zortest_noentry").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(raw, nullptr);
  EXPECT_NE(dlsym(raw, ZOR_MODULE_ENTRY_NAME), nullptr);
  EXPECT_EQ(ZorGetModule(zortest::kNoEntryId, nullptr), nullptr);
  EXPECT_TRUE(channels.Has(ZOR_MODULE_ENTRY_NAME));
  EXPECT_EQ(ZorGetModuleInstance(zortest::kNoEntryId, false), raw);  // loaded, but no object
  EXPECT_FALSE(ZorIsZorModule(LibraryOf("zortest_noentry").c_str()));
  dlclose(raw);

  // A message without ZorSendLoad tries no load.
  test::RegisterModule(4250, "zortest_unloaded", 0);
  channels.debug.clear();
  EXPECT_EQ(ZorSendModuleMessage(4250, zortest::kCountMsg, 0, 0, 0, 0, nullptr, nullptr), 0);
  EXPECT_TRUE(channels.debug.empty());
  EXPECT_EQ(ZorSendModuleMessage(4250, zortest::kCountMsg, ZorSendLoad, 0, 0, 0, nullptr, nullptr), 0);
  EXPECT_TRUE(channels.Has("zortest_unloaded"));
}

TEST_F(ModuleLoad, ConcurrentGetsShareOneObjectAndBalanceLocks) {
  ZorModule* first = ZorGetModule(zortest::kPluginId, nullptr);
  ASSERT_NE(first, nullptr);
  const int32_t base = first->GetLockCount();
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        ZorLock guard;
        const int32_t id = i % 3 == 0 ? ZorKernelModuleId : zortest::kPluginId;
        ZorModule* m = ZorGetModule(id, &guard);
        if (m != (id == ZorKernelModuleId ? ZorGetKernelModule() : first)) ++wrong[t];
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  EXPECT_EQ(first->GetLockCount(), base);
  first->Unlock();
}

TEST_F(ModuleRsrc, PluginTableHoldsItsOwnFiles) {
  const sZorRsrcTable* table = ZorGetRsrcTable(ZorGetRsrcInstance(zortest::kPluginId, true));
  ASSERT_NE(table, nullptr);
  EXPECT_NE(table, ZorGetRsrcTable(ZorGetRsrcInstance(ZorKernelModuleId, false)));
  const std::tuple<const char*, uint32_t, uint32_t> files[] = {
      {"5.Bin", 1037, 5}, {"300.Bin", 1037, 300}, {"1.MDesc", 1001, 1}, {"7.MDesc", 1001, 7}, {"14.MDesc", 1001, 14}};
  for (const auto& [file, section, id] : files) {
    SCOPED_TRACE(file);
    const sZorRsrcItem* item = nullptr;
    ASSERT_TRUE(ZorFindRsrcItem(table, section, id, 1036, &item));
    const std::string expected = zortest::ReadFile(std::string(ZOR_TEST_PLUGIN_RSRC) + "/" + file);
    ASSERT_EQ(item->size, expected.size());
    EXPECT_EQ(0, std::memcmp(item->data, expected.data(), expected.size()));
  }
  // One string list per message group, under 1000 + 4.
  EXPECT_TRUE(ZorFindRsrcItem(table, 1004, 1, 1036, nullptr));
  EXPECT_TRUE(ZorFindRsrcItem(table, 1004, 7, 1036, nullptr));
  EXPECT_FALSE(ZorFindRsrcItem(table, 1004, 2, 1036, nullptr));
  EXPECT_FALSE(ZorFindRsrcItem(table, 1037, 5, 1033, nullptr));
  // Sorted, without duplicates.
  for (uint32_t i = 1; i < table->count; ++i) {
    const auto& a = table->items[i - 1];
    const auto& b = table->items[i];
    EXPECT_LT(std::make_tuple(a.type, a.id, a.lang), std::make_tuple(b.type, b.id, b.lang));
  }
}

TEST_F(ModuleRsrc, TableOfADependencyIsNotTheModules) {
  void* bare = ZorGetRsrcInstance(zortest::kBareId, true);
  ASSERT_NE(bare, nullptr);
  ASSERT_NE(dlsym(bare, ZOR_RSRC_TABLE_SYMBOL), nullptr);  // found through zortest_dep
  EXPECT_EQ(ZorGetRsrcTable(bare), nullptr);
  void* noEntry = ZorGetRsrcInstance(zortest::kNoEntryId, true);
  ASSERT_NE(noEntry, nullptr);
  EXPECT_EQ(ZorGetRsrcTable(noEntry), nullptr);
  EXPECT_EQ(ZorGetRsrcTable(nullptr), nullptr);
  ZorLock guard;
  EXPECT_NE(ZorGetModule(zortest::kBareId, &guard), nullptr);  // still a module

  test::RegisterModule(zortest::kEmptyId, "zortest_empty", 0);
  const sZorRsrcTable* empty = ZorGetRsrcTable(ZorGetRsrcInstance(zortest::kEmptyId, true));
  ASSERT_NE(empty, nullptr);  // its own, though empty
  EXPECT_EQ(empty->count, 0u);
  EXPECT_FALSE(ZorFindRsrcItem(empty, 1037, 1, 1036, nullptr));
}

// The plug-in's own catalogue (plugin_messages, UTF-8 files) reaches
// ZorLoadString through its resource table, in cp1252.
TEST_F(ModuleRsrc, PluginTextsThroughTheCatalogue) {
  string text;
  EXPECT_STREQ(ZorLoadString(zortest::kPluginId, 1, 1, &text), "Module d'essai");
  EXPECT_STREQ(ZorLoadString(zortest::kPluginId, 1, 2, &text), "D\xe9marrage du module ^0i");
  EXPECT_STREQ(ZorLoadString("]4242,1,5", &text), "Arr\xeat");
  EXPECT_STREQ(ZorLoadString(zortest::kPluginId, 7, 3, &text), "Troisi\xe8me");
  EXPECT_STREQ(ZorLoadString(zortest::kPluginId, 1, 3, &text), "<ind\xe9" "fini>");  // inside the index, no text
  EXPECT_STREQ(ZorLoadString(zortest::kPluginId, 1, 6, &text), "");               // past the index
  EXPECT_STREQ(ZorLoadString(zortest::kPluginId, 2, 1, &text), "");               // no such list
  EXPECT_STREQ(ZorLoadString(zortest::kBareId, 1, 1, &text), "");                 // no table of its own
  EXPECT_STREQ(ZorLoadString(nullptr, &text), "");
}

// A table description shipped as resource 1006 of a module: its number is
// the table number (bits 16 to 23 of the table id), the module the high half.
TEST_F(ModuleRsrc, TableDescriptionFromTheModule) {
  const std::string bytes = zortest::ReadFile(std::string(ZOR_TEST_PLUGIN_RSRC) + "/3.TDesc");
  const int64_t module = int64_t{zortest::kPluginId} << 32;
  ZorTableDesc d;
  ASSERT_TRUE(d.BuildFromRsrc(module | (3 << 16) | 0x1234));
  const ZorHandle* h = d.GetHandle();
  ASSERT_EQ(h->GetSize(), bytes.size());
  EXPECT_EQ(0, std::memcmp(h->GetDatas(), bytes.data(), bytes.size()));
  EXPECT_FALSE(d.BuildFromRsrc(module | (4 << 16)));
  EXPECT_FALSE(d.IsInit());
}

TEST_F(ModuleTypes, TypeListEntersTheMapSorted) {
  const std::string bytes = zortest::ReadFile(std::string(ZOR_TEST_PLUGIN_RSRC) + "/7.MDesc");
  std::vector<std::tuple<int32_t, int32_t, int32_t>> expected;
  for (size_t at = 0; at + 8 <= bytes.size(); at += 8) {
    int32_t key[2];
    std::memcpy(key, &bytes[at], 8);
    expected.emplace_back(key[0], key[1], zortest::kPluginId);
  }
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());  // the list names (10, 1) twice
  ZorBGet out;
  ASSERT_EQ(ZorFindMTypes(zortest::kPluginId, &out), static_cast<int32_t>(expected.size()));
  for (int32_t i = 1; i <= out.GetNbItem(); ++i) {
    const auto* t = static_cast<const sZorMType*>(out[i]);
    EXPECT_EQ(std::make_tuple(t->key1, t->key2, t->module), expected[i - 1]);
  }
  EXPECT_EQ(ZorFindMTypes(zortest::kBareId, &out), 0);  // no table, no types
  EXPECT_GE(ZorFindMTypes(0, &out), static_cast<int32_t>(expected.size()));
}

TEST_F(ModuleTypes, DependencyListEachModuleOnce) {
  ZorBGet ids;
  ASSERT_EQ(ZorGetDepIds(zortest::kPluginId, &ids, true), 2);
  EXPECT_EQ(*static_cast<int32_t*>(ids[1]), ZorKernelModuleId);
  EXPECT_EQ(*static_cast<int32_t*>(ids[2]), zortest::kBareId);
  EXPECT_EQ(ZorGetDepIds(zortest::kBareId, &ids, true), 0);
  ZorTable list;
  ASSERT_TRUE(ZorGetDepList(zortest::kPluginId, &list, true));
  std::vector<int32_t> seen;
  for (bool more = list.First(); more; more = list.Next()) seen.push_back(list.GetValLong(kZorListFieldNumber));
  EXPECT_EQ(seen, (std::vector<int32_t>{ZorKernelModuleId, zortest::kBareId}));
  EXPECT_FALSE(ZorGetDepList(zortest::kBareId, &list, true));
  EXPECT_EQ(list.GetNbRecord(), 0);
}

// A module without a library still has its loose description files: a
// dependency list in its directory of a development tree, followed into the
// plug-in's own list when recursive, and a type list that shares a pair with
// the plug-in's (the map orders such entries by module).
TEST_F(ModuleTypes, LooseDependencyListAndRecursion) {
  ASSERT_NE(ZorGetModuleInstance(zortest::kPluginId, true), nullptr);  // loaded before the root moves
  ASSERT_NE(ZorGetModuleInstance(zortest::kBareId, true), nullptr);
  zortest::TempDir tree;
  std::filesystem::create_directory(tree.File("zortest_loose"));
  const int32_t ids[] = {zortest::kPluginId, 4260, ZorKernelModuleId, zortest::kPluginId};
  tree.Make("zortest_loose/14.MDesc", std::string(reinterpret_cast<const char*>(ids), sizeof ids));
  const int32_t types[] = {10, 1};
  tree.Make("zortest_loose/7.MDesc", std::string(reinterpret_cast<const char*>(types), sizeof types));
  ZorFsa root;
  ASSERT_TRUE(root.InitFromSysPath(tree.Path().c_str(), true));
  ZorFsa::KRegister(ZorKFsaModules, &root);
  test::RegisterModule(4260, "zortest_loose", 0, true);
  ZorBGet all;
  ASSERT_EQ(ZorFindMTypes(4260, &all), 1);
  ZorFindMTypes(0, &all);
  for (int32_t i = 2; i <= all.GetNbItem(); ++i) {
    const auto *a = static_cast<const sZorMType*>(all[i - 1]), *b = static_cast<const sZorMType*>(all[i]);
    EXPECT_LT(std::make_tuple(a->key1, a->key2, a->module), std::make_tuple(b->key1, b->key2, b->module));
  }
  auto list = [](bool recursive) {
    ZorBGet out;
    std::vector<int32_t> v;
    const int32_t n = ZorGetDepIds(4260, &out, recursive);
    for (int32_t i = 1; i <= n; ++i) v.push_back(*static_cast<int32_t*>(out[i]));
    return v;
  };
  EXPECT_EQ(list(false), (std::vector<int32_t>{zortest::kPluginId, ZorKernelModuleId}));
  EXPECT_EQ(list(true), (std::vector<int32_t>{zortest::kPluginId, ZorKernelModuleId, zortest::kBareId}));
  ZorFsa::KUnRegister(ZorKFsaModules);
}

TEST(ModulePlaces, DirectoryNameAndLanguagePack) {
  UseTestModules();
  ZorFsa dir;
  ASSERT_TRUE(ZorGetModuleFsa(zortest::kPluginId, &dir));
  string text;
  EXPECT_EQ(std::string(dir.GetSysPath(&text)), ModulesDir() + "/zortest_plugin");
  EXPECT_FALSE(ZorGetModuleFsa(777777, &dir));
  // The names other than the module's come from its description (1.MDesc),
  // the names of the module defaulting to its file name.
  const std::tuple<int32_t, eZorNameType, const char*> names[] = {
      {zortest::kPluginId, ZorNameModule, "zortest_plugin"}, {777777, ZorNameModule, ""},
      {zortest::kPluginId, ZorNamePublic, "Module de test"}, {zortest::kPluginId, ZorNameDev, "zortest_plugin"},
      {zortest::kPluginId, ZorNameCId, "zortest"},           {zortest::kPluginId, ZorNameVersion, "2.5.1"},
      {zortest::kPluginId, ZorNamePubComment, ""},           {zortest::kBareId, ZorNamePublic, "zortest_bare"},
      {777777, ZorNamePublic, ""}};
  for (const auto& [id, type, want] : names) EXPECT_STREQ(ZorGetModuleName(id, type, &text), want) << id << " " << type;
  EXPECT_EQ(ZorGetModuleVersion(zortest::kPluginId, &text), (2u << 16) | (5u << 8) | 1u);
  EXPECT_STREQ(text.CStr(), "2.5.1");
  EXPECT_EQ(ZorGetModuleVersion(zortest::kBareId, &text), 0u);
  EXPECT_STREQ(text.CStr(), "");
  EXPECT_EQ(ZorGetModuleFromName("/elsewhere/ZORTEST_Plugin.so", &text), zortest::kPluginId);
  EXPECT_STREQ(text.CStr(), "zortest_plugin");
  EXPECT_EQ(ZorGetModuleFromName("zortest_bare", nullptr), zortest::kBareId);
  EXPECT_EQ(ZorGetModuleFromName("zortest_none", &text), 0);
  EXPECT_EQ(ZorGetModuleFromName(nullptr, &text), 0);

  EXPECT_EQ(ZorGetModuleLang(zortest::kPluginId), -1);
  EXPECT_FALSE(ZorGetLangPackFsa(zortest::kPluginId, -1, &dir));
  ZorSetModuleLang(zortest::kPluginId, 1036);
  EXPECT_EQ(ZorGetModuleLang(zortest::kPluginId), 1036);
  ZorFsa pack;
  ASSERT_TRUE(ZorGetLangPackFsa(zortest::kPluginId, 1036, &pack));
  EXPECT_EQ(std::string(pack.GetSysPath(&text)), ModulesDir() + "/zortest_plugin/1036");
  ZorSetModuleLang(zortest::kPluginId, -1);
  EXPECT_EQ(ZorGetModuleLang(zortest::kPluginId), -1);
}

TEST(ModulePlaces, RootDefaultsToEnvironmentThenLibraryDirectory) {
  ZorFsa::KUnRegister(ZorKFsaModules);
  ZorFsa root;
  string text;
  for (const char* env : {"/opt/zortest/mods", "/"}) {  // one character is a path too
    ASSERT_EQ(setenv("ZORVANE_MODULES", env, 1), 0);
    ASSERT_TRUE(ZorGetModulesRoot(&root));
    EXPECT_STREQ(root.GetSysPath(&text), env);
  }
  unsetenv("ZORVANE_MODULES");
  ASSERT_TRUE(ZorGetModulesRoot(&root));
  Dl_info info{};
  ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&ZorGetKernelModule), &info));
  std::string libDir = info.dli_fname;
  libDir.resize(libDir.rfind('/'));
  EXPECT_EQ(std::string(root.GetSysPath(&text)), libDir);
  ZorFsa mod;
  ASSERT_TRUE(ZorGetModuleFsa(ZorKernelModuleId, &mod));
  EXPECT_EQ(std::string(mod.GetSysPath(&text)), libDir + "/zorvane");
}

// An object given at registration takes the record's id and instance, and
// is handed out as it stands: no library is looked for.
TEST(ModuleRegister, GivenObjectIsTheModule) {
  test::RegisterModule(5000, "zortest_given", 0);
  ZorModule object;
  int marker = 0;
  sZorModuleInfo again;
  again.id = 5000;
  again.instance = &marker;
  ZorRegisterModule(&object, &again, false);
  EXPECT_EQ(object.GetModuleId(), 5000);
  EXPECT_EQ(object.GetInstance(), &marker);
  ZorLock guard;
  EXPECT_EQ(ZorGetModule(5000, &guard), &object);
  EXPECT_EQ(object.GetLockCount(), 1);
  guard.Trash();
  EXPECT_FALSE(object.IsLocked());
  object.Unlock();  // never below zero
  EXPECT_EQ(object.GetLockCount(), 0);
}

// Random registrations against a map: updates keep one record per id and
// change only the instance and object given; the ids stay sorted.
TEST(ModuleRegister, RandomRegistrationsAgainstAModel) {
  std::mt19937 rng(20261205);
  std::map<int32_t, sZorModuleInfo> model;
  {
    ZorBGet ids;
    const int32_t n = ZorGetModuleIds(&ids);
    for (int32_t i = 1; i <= n; ++i) {
      const int32_t id = *static_cast<int32_t*>(ids[i]);
      ZorGetModuleInfo(id, &model[id]);
    }
  }
  std::vector<ZorModule> objects(8);
  std::vector<char> instances(8);
  for (int step = 0; step < 600; ++step) {
    sZorModuleInfo info;
    info.id = static_cast<int32_t>(100000 + rng() % 150) * (rng() % 10 == 0 ? -1 : 1);
    info.flags = (rng() % 2) << 4;  // never a plug-in: the instances are fake
    std::snprintf(info.name, sizeof info.name, "m%d_%u", info.id, static_cast<unsigned>(rng() % 3));
    if (rng() % 2) info.instance = &instances[rng() % instances.size()];
    if (rng() % 2) info.object = &objects[rng() % objects.size()];
    ZorRegisterModule(nullptr, &info, false);
    auto [it, inserted] = model.try_emplace(info.id, info);
    if (!inserted) {
      if (info.instance) it->second.instance = info.instance;
      if (info.object) it->second.object = info.object;
    }
    if (step % 20 != 19) continue;
    ZorBGet ids;
    ASSERT_EQ(ZorGetModuleIds(&ids), static_cast<int32_t>(model.size()));
    int32_t i = 1;
    for (const auto& [id, expected] : model) {
      ASSERT_EQ(*static_cast<int32_t*>(ids[i++]), id);
      sZorModuleInfo got;
      ASSERT_TRUE(ZorGetModuleInfo(id, &got));
      EXPECT_STREQ(got.name, expected.name);
      EXPECT_EQ(got.flags, expected.flags);
      EXPECT_EQ(got.instance, expected.instance);
      EXPECT_EQ(got.object, expected.object);
      EXPECT_EQ(ZorIsModulePresent(id), id != 0);
      if (id >= 100000 || id <= -100000) {
        EXPECT_EQ(ZorGetModuleFromName(expected.name, nullptr), id);
      }
    }
  }
  // A record that has an object hands it out as it stands.
  for (auto& [id, info] : model) {
    if (!info.object || id < 100000) continue;
    ZorLock guard;
    EXPECT_EQ(ZorGetModule(id, &guard), info.object);
  }
}

namespace {

// The application module: it records the plug-ins' start/stop reports.
class Recorder final : public ZorModule {
 public:
  std::vector<std::pair<int32_t, int32_t>> reports;
  int32_t HandleMessage(int32_t msg, int32_t p1, int32_t p2, int64_t, const char*, ZorHandle*) override {
    if (msg == zortest::kReportMsg) reports.emplace_back(p1, p2);
    return 0;
  }
};

}  // namespace

TEST(ModulePlugins, StartAndStopInIdOrder) {
  // Registered out of order on purpose; 4243 cannot start and is skipped.
  test::RegisterModule(zortest::kBareId, "zortest_bare", ZorModuleFlagPlugIn);
  test::RegisterModule(kMissingId, "zortest_missing", 0);
  test::RegisterModule(zortest::kNoEntryId, "zortest_noentry", ZorModuleFlagPlugIn);
  UseTestModules();
  Recorder app;
  test::RegisterModule(kAppId, "zortest_app", 0);
  int appInstance = 0;  // handed out for the application's id only
  ZorSetAppModule(kAppId, &appInstance, &app);
  EXPECT_EQ(ZorGetModuleInstance(kAppId, false), &appInstance);

  ZorInitPlugins(true);
  using Reports = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(app.reports, (Reports{{zortest::kPluginId, 0}, {zortest::kBareId, 0}}));
  ZorLock guard;
  ZorModule* plugin = ZorGetModule(zortest::kPluginId, &guard);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->GetLockCount(), 2);  // held by the start, and by this guard
  EXPECT_EQ(ZorSendModuleMessage(zortest::kPluginId, zortest::kCountMsg, 0, 0, 0, 0, nullptr, nullptr), 1000);
  EXPECT_EQ(ZorSendModuleMessage(zortest::kBareId, zortest::kCountMsg, 0, 0, 0, 0, nullptr, nullptr), 1000);

  app.reports.clear();
  ZorInitPlugins(false);
  EXPECT_EQ(app.reports, (Reports{{zortest::kPluginId, ZorModuleMsgStop}, {zortest::kBareId, ZorModuleMsgStop}}));
  EXPECT_EQ(plugin->GetLockCount(), 1);
  EXPECT_EQ(ZorSendModuleMessage(zortest::kPluginId, zortest::kCountMsg, 0, 0, 0, 0, nullptr, nullptr), 1001);
  EXPECT_EQ(ZorGetModuleInstance(kMissingId, false), nullptr);  // not a plug-in: never tried
  ZorSetAppModule(0, nullptr, nullptr);
}
