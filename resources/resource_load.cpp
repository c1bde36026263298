// Loading a resource (type, module, id) into a handle, and listing them.
//
// Where the bytes come from: the module's own resource section when it holds
// the resource (directly, or inside the section's resource directory), else
// the development tree of loose files. So a shipped module never touches the
// file system for what it carries, and a development tree may hold loose
// files for what is not compiled in yet. The section is the one of
// ZorGetRsrcInstance's instance, read only through that instance's own table.
//
// Loose files live in the module's directory (ZorGetModuleFsa), or, when the
// module has a language of its own, in that language's pack directory, and
// are named "<id><ext>". A module without a directory is an error ("_loadRsrc
// ...") unless the caller asks for quiet. Cursors (type 9) come only from
// the section and are never unpacked; every other resource is passed through
// ZorUnzipHandle, which leaves bytes that are not an envelope alone.
#include <zorvane/resource.h>

#include <zorvane/cell_container.h>
#include <zorvane/exception.h>
#include <zorvane/path.h>
#include <zorvane/file_commands.h>
#include <zorvane/module.h>
#include <zorvane/stream.h>
#include <zorvane/string.h>

#include "foundation/errors/raise.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorRsrc";
constexpr int32_t kTextGroup = 104;
constexpr int32_t kLoadRsrcText = 353;  // "_loadRsrc Rsrc type ^0i, Mod id ^1i, Rsrc id ^2i, Fsa ^3s"
constexpr int32_t kErrRsrc = 10;
constexpr uint32_t kDirSectionType = 1000 + ZorRsrcDir;
constexpr uint32_t kDirId = 1;

const sZorRsrcTable* SectionOf(int32_t module) { return ZorGetRsrcTable(ZorGetRsrcInstance(module, true)); }

bool FindInSection(const sZorRsrcTable* table, uint32_t sectionType, int32_t id, const sZorRsrcItem** item) {
  return table && ZorFindRsrcItem(table, sectionType, static_cast<uint32_t>(id), kZorRsrcLang, item);
}

bool LoadFromSection(int32_t type, int32_t module, int32_t id, ZorHandle* out) {
  const sZorRsrcTable* table = SectionOf(module);
  const sZorRsrcItem* item = nullptr;
  if (FindInSection(table, ZorGetRsrcSectionType(type), id, &item)) {
    out->Init(item->data, item->size);
    if (type != ZorRsrcCursor) ZorUnzipHandle(out);
    return true;
  }
  if (type == ZorRsrcCursor || !FindInSection(table, kDirSectionType, kDirId, &item)) return false;
  ZorHandle dir;
  dir.Init(item->data, item->size);
  return ZorExtractResource(type, id, &dir, out);
}

bool LoadLooseFile(int32_t type, int32_t module, int32_t id, uint32_t flags, ZorHandle* out) {
  ZorFsa path;
  if (!ZorGetRsrcTypeFsa(type, module, id, &path)) {
    if (flags & ZorRsrcQuiet) return false;
    ZorRaise(kSource, ZorErr(1, kErrRsrc), nullptr, {kTextGroup, kLoadRsrcText}, type, module, id, "");
  }
  ZorLock guard;
  iZorStream* s = ZorOpenStream(&path, ZorPermRead | ZorShareRead, &guard, ZorStmNoRaise);
  if (!s) return false;
  ZorReadHandle(s, out, 0, -1);
  ZorUnzipHandle(out);
  return true;
}

// The ids of the loose files "<id><ext>" of a directory.
void LooseIds(const ZorFsa& dir, const char* ext, std::vector<int32_t>* ids) {
  if (!ZorFsaCmd(&dir, ZorFsaCmdQuiet).IsDir()) return;
  ZorFsaScan scan;
  scan.Init(&dir, 0);
  ZorFsa file;
  string name;
  while (scan.Next(&file)) {
    file.GetName(&name, ZorFsaNameFull);
    char* end = nullptr;
    const long id = std::strtol(name.CStr(), &end, 10);
    if (end != name.CStr() && name.CStr()[0] != '-' && id > 0 && id <= INT32_MAX && ZorStrIEq(end, ext)) {
      ids->push_back(static_cast<int32_t>(id));
    }
  }
}

}  // namespace

bool ZorRsrc::Init(int32_t type, int32_t module, int32_t id, uint32_t flags) {
  ZorGetRsrcTypeName(type);  // raises on a type outside the table
  _h.Trash();
  if (LoadFromSection(type, module, id, &_h)) return true;
  _h.Trash();
  if (type != ZorRsrcCursor && LoadLooseFile(type, module, id, flags, &_h)) return true;
  _h.Trash();
  _h.Init(0u);
  return false;
}

bool ZorGetRsrcTypeFsa(int32_t type, int32_t module, int32_t id, ZorFsa* out, int32_t lang) {
  ZorFsa dir;
  const int32_t own = lang < 0 ? ZorGetModuleLang(module, false) : lang;
  if (!(own >= 0 && ZorGetLangPackFsa(module, own, &dir)) && !ZorGetModuleFsa(module, &dir)) return false;
  string name;
  out->InitFromParent(&dir, ZorGetRsrcFileName(static_cast<eZorRsrcType>(type), id, &name));
  return true;
}

bool ZorIsPackedResource(int32_t module) {
  const sZorRsrcItem* item = nullptr;
  return FindInSection(SectionOf(module), kDirSectionType, kDirId, &item);
}

bool ZorExtractResource(int32_t type, int32_t id, ZorHandle* in, ZorHandle* out) {
  ZorHandle unpacked;
  unpacked.Init(in->GetSize());
  if (in->GetSize()) std::memcpy(unpacked.GetDatas(), in->GetDatas(), in->GetSize());
  ZorUnzipHandle(&unpacked);
  ZorDyna dir;
  dir.Init(&unpacked);
  out->Trash();
  if (!dir.GetData(type, id, 0, out)) {
    out->Init(0u);
    return false;
  }
  ZorUnzipHandle(out);
  return true;
}

void ZorReleaseResource(ZorHandle* h) { h->Trash(); }

int32_t ZorForEachRsrc(int32_t module, int32_t type, ZorRsrcVisitor visit, void* context) {
  std::vector<int32_t> ids;
  const uint32_t sectionType = ZorGetRsrcSectionType(type);
  if (const sZorRsrcTable* table = SectionOf(module)) {
    for (uint32_t i = 0; i < table->count; ++i) {
      const sZorRsrcItem& item = table->items[i];
      if (item.type == sectionType && item.lang == kZorRsrcLang) ids.push_back(static_cast<int32_t>(item.id));
    }
  }
  ZorFsa dir;
  if (type != ZorRsrcCursor && ZorGetRsrcTypeFsa(type, module, 1, &dir) && dir.ChangeParent()) {
    LooseIds(dir, ZorGetRsrcTypeExt(type), &ids);
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  int32_t visited = 0;
  for (int32_t id : ids) {
    ++visited;
    if (!visit(context, id)) break;
  }
  return visited;
}

}  // namespace zorvane
