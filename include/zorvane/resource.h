// Resources: typed, numbered data of a module (string lists, dialogs,
// table descriptions, menus ...), their names, where their bytes come from,
// and the packed envelope that most of them are shipped in.
//
// A resource is addressed by (type, module, id). Its bytes come from the
// module's own resource section (<zorvane/resource_table.h>) when that holds it,
// else from a loose file "<id><ext>" in the module's directory (or in its
// language pack) of a development tree. Loaded bytes that form a packed
// envelope are unpacked.
//
// Packed envelope, little-endian:
//   "pk" | size of the data (32 bits) | zlib stream | CRC-32 of the stream | "kp"
// Data under 32 bytes is never packed; bytes that are not a valid envelope
// are left as they are.
#pragma once

#include <zorvane/handle.h>
#include <zorvane/types.h>

namespace zorvane {

class string;
class ZorFsa;

enum eZorRsrcType : int32_t {
  ZorRsrcModuleDesc = 1,
  ZorRsrcConfig = 2,
  ZorRsrcFsa = 3,
  ZorRsrcStrList = 4,
  ZorRsrcDialog = 5,
  ZorRsrcTableDesc = 6,
  ZorRsrcMTypeList = 7,
  ZorRsrcIcon = 8,
  ZorRsrcCursor = 9,
  ZorRsrcImage = 10,
  ZorRsrcMDescData = 11,
  ZorRsrcMenu = 13,
  ZorRsrcDepList = 14,
  ZorRsrcMobId = 15,
  ZorRsrcMessage = 16,
  ZorRsrcConstant = 17,
  ZorRsrcLocker = 18,
  ZorRsrcEnum = 19,
  ZorRsrcPref = 20,
  ZorRsrcUtil = 21,
  ZorRsrcWorkSpace = 22,
  ZorRsrcBrevant = 23,
  ZorRsrcPSys = 24,
  ZorRsrcBackPage = 25,
  ZorRsrcStdTxt = 26,
  ZorRsrcRichTxt = 27,
  ZorRsrcSound = 28,
  ZorRsrcToolBar = 29,
  ZorRsrcChartStyle = 30,
  ZorRsrcQuest = 31,
  ZorRsrcGlobal = 32,
  ZorRsrcComEng = 33,
  ZorRsrcAppColor = 34,
  ZorRsrcBoard = 35,
  ZorRsrcMenuTag = 36,
  ZorRsrcBinary = 37,
  ZorRsrcTask = 100,
  ZorRsrcRawBinary = 997,
  ZorRsrcRawStrList = 998,
  ZorRsrcDir = 999,
};

// The language of every resource of a section.
constexpr uint32_t kZorRsrcLang = 1036;

// ------------------------------------------------------------------ names
// "StrList" for 4 ...; raises ZorEBasic (1, 7) for a value outside the table.
ZOR_API const char* ZorGetRsrcTypeName(int32_t type);
// ".StrList" for 4 ...; "" for the resource directory (999); raises as above.
ZOR_API const char* ZorGetRsrcTypeExt(int32_t type);
// The type of a name or of an extension (without its dot), ignoring case;
// for an extension shared by several types, the first in the table. 0 when
// none.
ZOR_API int32_t ZorGetRsrcTypeFromTypeName(const char* name);
ZOR_API int32_t ZorGetRsrcTypeFromExt(const char* ext);
// The type under which a section stores the resource type: 1000 + type,
// except 7, 11 and 14 (1001), 9 (12), 997 (1037) and 998 (1004).
ZOR_API uint32_t ZorGetRsrcSectionType(int32_t type);
// A loose file's name: the identifier followed by the type's extension.
// The first form reads the identifier from *name.
ZOR_API const char* ZorGetRsrcFileName(eZorRsrcType type, string* name);
ZOR_API const char* ZorGetRsrcFileName(eZorRsrcType type, int32_t id, string* out);
// The loose file of (type, module, id): in the language pack of `lang`
// (-1: the module's own language) when there is one, else in the module's
// directory. False when the module has no directory.
ZOR_API bool ZorGetRsrcTypeFsa(int32_t type, int32_t module, int32_t id, ZorFsa* out, int32_t lang = -1);
// Whether the module's section holds a resource directory (type 1999, id 1).
ZOR_API bool ZorIsPackedResource(int32_t module);

// ------------------------------------------------------------------ envelope
// Packs the handle's data in place; false (data unchanged) under 32 bytes
// or when compression fails.
ZOR_API bool ZorZipHandle(ZorHandle* h);
// Unpacks an envelope in place; false (data unchanged) when the data is not
// a whole, valid envelope (magics, CRC-32, stream, recorded size).
ZOR_API bool ZorUnzipHandle(ZorHandle* h);
// Whether the data starts with "pk" and ends with "kp" (at least 12 bytes).
ZOR_API bool ZorIsHandleZipped(const ZorHandle* h);

// ------------------------------------------------------------------ loading
// Flags of ZorRsrc::Init.
enum : uint32_t {
  ZorRsrcQuiet = 0x1,  // a module without a directory gives false instead of raising
};

// One loaded resource. The handle owns a private copy of the (unpacked)
// bytes, valid until the next Init or Trash.
class ZOR_API ZorRsrc {
 public:
  ZorRsrc() = default;
  ~ZorRsrc() { Trash(); }
  ZorRsrc(const ZorRsrc&) = delete;
  ZorRsrc& operator=(const ZorRsrc&) = delete;

  // Loads (type, module, id). False, with an empty handle, when the
  // resource exists nowhere. When the section does not hold it and the
  // module has no directory, raises ZorEBasic (1, 10) "_loadRsrc ..."
  // unless ZorRsrcQuiet is given.
  bool Init(int32_t type, int32_t module, int32_t id, uint32_t flags = 0);
  bool IsInit() const { return _h.IsInit(); }
  void Trash() { _h.Trash(); }
  ZorHandle* GetHandle() { return &_h; }

 private:
  ZorHandle _h;
};

// A resource directory maps (type, id) to a resource's bytes; it is a
// cell container whose cell (type, id, 0) holds them. Copies that resource
// into out (unpacked); false and out empty when absent. `in` may itself be
// an envelope.
ZOR_API bool ZorExtractResource(int32_t type, int32_t id, ZorHandle* in, ZorHandle* out);
// Gives the resource's memory back.
ZOR_API void ZorReleaseResource(ZorHandle* h);

// ------------------------------------------------------------------ listings
// The resources of one type that a module's section holds, in id order:
// `visit` is called with each id and may stop the walk by returning false.
// Returns the number visited. (The list-table forms, ZorGetRsrcList and
// ZorGetCstList, are in zorvane/list_table.h.)
using ZorRsrcVisitor = bool (*)(void* context, int32_t id);
ZOR_API int32_t ZorForEachRsrc(int32_t module, int32_t type, ZorRsrcVisitor visit, void* context);

}  // namespace zorvane
