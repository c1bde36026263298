// ZorFsa: paths as entries of the process-wide path tree (path_tree.h).
//
// From text to components (InitFromPath). Backslashes become "/" first; a
// text starting with "%" has its %NAME% environment variables expanded.
//
//   text                         root component        then
//   "/data/a.txt"                "!Cos!"               "data", "a.txt"
//   "C:\Data\a.txt"              "!Cos!C:"             "Data", "a.txt"
//   "\\srv\share\a.txt"          "!Cos!//srv"          "share", "a.txt"
//   "\\?\C:\a.txt"               "!Cos!//?/C:"         "a.txt"
//   "!Cos!<local text>"          as the local text
//   "!Cst!<code or name>/rest"   the registered well-known path, then "rest"
//   "!Xxx!<head>/rest"           "!Xxx!<head>"         "rest" split on "/"
//
// Components are the texts between "/" with trailing spaces removed; empty
// ones and "." are skipped and ".." goes up one level (by name only, never
// above the root). A POSIX absolute path may be as short as "/"; any other
// text (relative, drive-relative "C:x", empty) is refused with (1, 38), a
// "!Xxx!" marker that no root knows with (1, 15).
//
// From components to text (GetPath). The internal form (kind 1) joins the
// components with "/": "!Cos!/data/a.txt", "!Cos!C:/Data/a.txt". Per root:
//
//   root            kind 0 (system)                kind 3 (display)   kind 2
//   !Cos!           marker removed, "/" kept       as kind 0          internal
//   !Srv!           marker removed, "/" -> "\"     internal           internal
//   !Net!           internal                       internal           internal
//   !Cnx!           after the first component,     internal (the      internal
//                   "/" -> "\"                     smart form)
//   !Htp! !Ftp! !Tel! !Mto! !Reg!
//                   marker removed, "/" -> "\"     as kind 0          internal
//   !Fax! !Cto!     marker removed, "/" -> "\"     internal           internal
//
// So a POSIX path gives back its own text ("/data/a.txt"), a drive path
// "C:/Data/a.txt" and a share "//srv/share/a.txt"; Linux reads the last as
// "/srv/share/a.txt". A local root alone ends with "/" ("/", "C:/"). Local
// kind 0 texts are cp1252; GetSysPath gives them in UTF-8 for the system.
//
// Identity follows the file system. Below the POSIX root "!Cos!", a
// directory's names compare as its file system compares them (statfs of the
// directory, or of its nearest existing ancestor when it does not exist):
// "/x/A.txt" and "/x/a.txt" are two paths on ext4, one on vfat. Every other
// root names no file of this system (drive letters, "\\server\share", the
// other media) and compares without case, as Windows does. The tree asks
// once per directory entry and keeps the answer while the entry lives, so a
// look-up costs no system call; a file system mounted over a directory that
// the tree already holds is seen once that entry has been released.
//
// Well-known paths ("!Cst!" texts, InitFromKFsa) live in well_known_paths.cpp.
#include <zorvane/exception.h>
#include <zorvane/path.h>
#include <zorvane/string.h>

#include "foundation/files/file_args.h"
#include "foundation/files/path_tree.h"
#include "foundation/files/well_known_paths.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

namespace {

constexpr const char* kSource = "ZorFsa";
constexpr size_t kMarkerLen = 5;
constexpr int32_t kFilesTextGroup = 216;
constexpr int32_t kNullArgText = 64;
constexpr int32_t kEmptyPathText = 65;

enum class SysRule { KeepSlash, Backslash, Internal, AfterFirst };

struct RootKind {
  const char* marker;
  eZorFsaMedia media;
  SysRule sys;
  bool displayAsSys;  // kind 3 is the kind 0 text, else the internal form
  bool isVirtual;
};

// In the order in which texts are tested.
constexpr RootKind kRoots[] = {
    {"!Cos!", ZorFsaMediaLocal, SysRule::KeepSlash, true, false},
    {"!Cst!", ZorFsaMediaLocal, SysRule::Internal, false, false},
    {"!Net!", ZorFsaMediaNet, SysRule::Internal, false, false},
    {"!Srv!", ZorFsaMediaServer, SysRule::Backslash, false, false},
    {"!Cnx!", ZorFsaMediaCnx, SysRule::AfterFirst, false, false},
    {"!Htp!", ZorFsaMediaNet, SysRule::Backslash, true, false},
    {"!Ftp!", ZorFsaMediaNet, SysRule::Backslash, true, false},
    {"!Tel!", ZorFsaMediaLocal, SysRule::Backslash, true, true},
    {"!Fax!", ZorFsaMediaLocal, SysRule::Backslash, false, true},
    {"!Mto!", ZorFsaMediaLocal, SysRule::Backslash, true, true},
    {"!Cto!", ZorFsaMediaLocal, SysRule::Backslash, false, true},
    {"!Reg!", ZorFsaMediaLocal, SysRule::Backslash, true, true},
};
const RootKind& kLocalRoot = kRoots[0];
const RootKind& kConstRoot = kRoots[1];
const RootKind& kServerRoot = kRoots[3];
const RootKind& kCnxRoot = kRoots[4];

ZorPathTree& Tree() { return ZorPathTree::Process(); }

// The process tree's case rule (see the top of the file). `internal` is the
// internal form of a directory entry; the POSIX root is "!Cos!" alone, the
// shares "!Cos!//server".
platform::NameCase CaseBelow(const std::string& internal) {
  const std::string_view text(internal);
  const bool posix = text.substr(0, kMarkerLen) == kLocalRoot.marker &&
                     (text.size() == kMarkerLen || (text[kMarkerLen] == '/' && text.substr(kMarkerLen, 2) != "//"));
  if (!posix) return platform::NameCase::kFolded;
  string utf8;
  const std::string sys = text.size() == kMarkerLen ? std::string("/") : internal.substr(kMarkerLen);
  return platform::NameCaseAt(ZorEncodeToUTF8(sys.c_str(), &utf8));
}

const RootKind* FindRoot(std::string_view text) {
  if (text.size() < kMarkerLen) return nullptr;
  for (const RootKind& r : kRoots)
    if (ZorStrIEqN(text.data(), r.marker, kMarkerLen)) return &r;
  return nullptr;
}

bool LooksLikeMarker(std::string_view text) {
  return text.size() >= kMarkerLen && text[0] == '!' && text[4] == '!';
}

// The message is the refused text as it stands (never read as a reference).
[[noreturn]] void Refuse(int32_t number, const char* text, uint32_t line) {
  if (!text || !text[0]) files::RaiseEmptyPath(kSource, line);
  const string msg(text);
  throw ZorEBasic(1, ZorErr(1, number), &msg, nullptr, kSource, line);
}

bool IsAsciiAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || (c >= '0' && c <= '9'); }

// A system text (UTF-8) as a library text; false when cp1252 cannot hold it
// exactly (the text would not lead back to the same file).
bool SysToLibrary(const char* utf8, string* dst) {
  string back;
  ZorDecodefromUTF8(utf8 ? utf8 : "", dst);
  return ZorStrEq(ZorEncodeToUTF8(dst->CStr(), &back), utf8 ? utf8 : "");
}

// %NAME% is replaced by the variable's value; unknown names stay as written.
std::string ExpandEnvironment(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('%', i);
    const size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(i, open - i));
    const std::string name(text.substr(open + 1, close - open - 1));
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    string converted;
    if (value) {
      out.append(SysToLibrary(value, &converted) ? converted.CStr() : value);
      i = close + 1;
    } else {
      out.push_back('%');
      i = open + 1;
    }
  }
  out.append(text.substr(std::min(i, text.size())));
  return out;
}

// The components of `rest` (see the top of the file); `up` counts the ".."
// that climbed above the first component.
struct Components {
  std::vector<std::string_view> names;
  uint32_t up = 0;
};

void SplitComponents(std::string_view rest, Components* out) {
  size_t i = 0;
  while (i <= rest.size()) {
    size_t end = rest.find('/', i);
    if (end == std::string_view::npos) end = rest.size();
    std::string_view name = rest.substr(i, end - i);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    i = end + 1;
    if (name.empty() || name == ".") continue;
    if (name != "..") {
      out->names.push_back(name);
    } else if (!out->names.empty()) {
      out->names.pop_back();
    } else {
      ++out->up;
    }
  }
}

// Splits a local text into its root component and the rest; false for a
// text of no local shape. Behind an explicit "!Cos!" marker, the bare roots
// of the internal form ("", "C:") are accepted too.
bool SplitLocal(std::string_view text, bool marked, std::string* root, std::string_view* rest) {
  size_t headLen = 0;
  const bool bareDrive = marked && text.size() == 2 && IsAsciiAlpha(text[0]) && text[1] == ':';
  if (text.size() >= 6 && text.substr(0, 4) == "//?/" && IsAsciiAlpha(text[4]) && text[5] == ':') {
    headLen = 6;
  } else if (text.size() >= 3 && text.substr(0, 2) == "//" && IsAsciiAlnum(text[2])) {
    headLen = std::min(text.find('/', 2), text.size());
  } else if (bareDrive || (text.size() >= 3 && IsAsciiAlpha(text[0]) && text[1] == ':' && text[2] == '/')) {
    headLen = 2;
  } else if (marked && text.empty()) {
    headLen = 0;
  } else if (text.empty() || text[0] != '/') {
    return false;
  }
  root->assign(kLocalRoot.marker);
  root->append(text.substr(0, headLen));
  *rest = text.substr(headLen);
  return true;
}

// Climbs `up` levels from a live entry (never above its root).
int32_t Climb(int32_t index, uint32_t up) {
  for (; up > 0; --up) {
    const int32_t parent = Tree().Parent(index);
    if (parent == 0) break;
    index = parent;
  }
  return index;
}

// The entry `rest` below `base` (which the caller holds), with a reference.
int32_t AcquireBelow(int32_t base, std::string_view rest) {
  Components c;
  SplitComponents(rest, &c);
  return Tree().Acquire(Climb(base, c.up), c.names.data(), c.names.size());
}

// The internal form of an entry.
std::string InternalText(int32_t index) {
  std::string text;
  if (index != 0) Tree().AppendPath(index, &text);
  return text;
}

const RootKind& RootOf(std::string_view internal) {
  const RootKind* r = FindRoot(internal);
  return r ? *r : kLocalRoot;
}

// The entry of a "!Cst!" text (rest = the text after the marker), with a
// reference; 0 when it names nothing.
int32_t AcquireConstant(std::string_view rest) {
  const size_t slash = std::min(rest.find('/'), rest.size());
  ZorFsa base;
  if (!files::WellKnownBase(rest.substr(0, slash), &base)) return 0;
  return AcquireBelow(base.GetIndex(), rest.substr(slash));
}

// The entry of a text, with a reference; 0 with *error set on refusal.
int32_t AcquireText(const char* path, int32_t* error) {
  *error = 38;
  if (!path || !path[0]) return 0;
  std::string text = path[0] == '%' ? ExpandEnvironment(path) : std::string(path);
  for (char& c : text)
    if (c == '\\') c = '/';
  const RootKind* kind = FindRoot(text);
  if (!kind && LooksLikeMarker(text)) {
    *error = 15;
    return 0;
  }
  const std::string_view all(text);
  if (kind == &kConstRoot) return AcquireConstant(all.substr(kMarkerLen));
  std::string root;
  std::string_view rest;
  if (!kind || kind == &kLocalRoot) {
    if (!SplitLocal(kind ? all.substr(kMarkerLen) : all, kind != nullptr, &root, &rest)) return 0;
  } else {
    const size_t slash = std::min(all.find('/', kMarkerLen), all.size());
    root = std::string(kind->marker) + std::string(all.substr(kMarkerLen, slash - kMarkerLen));
    rest = all.substr(slash);
  }
  Components c;
  SplitComponents(rest, &c);  // a ".." above the root stays at the root
  c.names.insert(c.names.begin(), root);
  return Tree().Acquire(0, c.names.data(), c.names.size());
}

void ToBackslashes(std::string* text) {
  for (char& c : *text)
    if (c == '/') c = '\\';
}

// The kind 0 text of an internal form.
std::string SysText(const RootKind& kind, std::string internal, bool isRoot) {
  switch (kind.sys) {
    case SysRule::KeepSlash:
      internal.erase(0, kMarkerLen);
      if (isRoot) internal.push_back('/');
      return internal;
    case SysRule::Backslash:
      internal.erase(0, kMarkerLen);
      ToBackslashes(&internal);
      return internal;
    case SysRule::AfterFirst: {
      const size_t slash = internal.find('/');
      internal.erase(0, slash == std::string::npos ? internal.size() : slash + 1);
      ToBackslashes(&internal);
      return internal;
    }
    case SysRule::Internal:
      break;
  }
  return internal;
}

// Splits a single name into its base and its last extension.
std::string_view NamePart(std::string_view name, int32_t kind) {
  const size_t dot = name.rfind('.');
  const bool hasExt = dot != std::string_view::npos && dot > 0;
  if (kind == ZorFsaNameBase) return hasExt ? name.substr(0, dot) : name;
  if (kind == ZorFsaNameExt) return hasExt ? name.substr(dot + 1) : std::string_view();
  return name;
}

}  // namespace

// ---------------------------------------------------------------- refusals

namespace files {

void RaiseNullArg(const char* srcFile, uint32_t srcLine, const char* argument) {
  throw ZorEBasic(srcFile, srcLine, ZorErr(1, 23), 1, kFilesTextGroup, kNullArgText, argument);
}

void RaiseEmptyPath(const char* srcFile, uint32_t srcLine) {
  throw ZorEBasic(srcFile, srcLine, ZorErr(1, 38), 1, kFilesTextGroup, kEmptyPathText);
}

const ZorFsa& RequirePath(const ZorFsa* path, const char* srcFile, uint32_t srcLine, const char* argument) {
  if (!NonNull(path, srcFile, srcLine, argument)->IsInit()) RaiseEmptyPath(srcFile, srcLine);
  return *path;
}

}  // namespace files

ZorPathTree& ZorPathTree::Process() {
  static ZorPathTree* const tree = new ZorPathTree(CaseBelow);
  return *tree;
}

// ---------------------------------------------------------------- life

ZorFsa::ZorFsa(const char* path) { InitFromPath(path); }

ZorFsa::ZorFsa(const ZorFsa& other) : _index(other._index) {
  if (_index) Tree().AddRef(_index);
}

ZorFsa::ZorFsa(ZorFsa&& other) noexcept : _index(other._index) { other._index = 0; }

ZorFsa& ZorFsa::operator=(const ZorFsa& other) {
  if (other._index) Tree().AddRef(other._index);
  Attach(other._index);
  return *this;
}

ZorFsa& ZorFsa::operator=(ZorFsa&& other) noexcept {
  if (this != &other) Attach(other.Detach());
  return *this;
}

ZorFsa::~ZorFsa() { Trash(); }

void ZorFsa::Trash() { Attach(0); }

void ZorFsa::Attach(int32_t index) {
  const int32_t old = _index;
  _index = index;
  if (old) Tree().Release(old);
}

int32_t ZorFsa::Detach() {
  const int32_t index = _index;
  _index = 0;
  return index;
}

// ---------------------------------------------------------------- building

bool ZorFsa::InitFromPath(const char* path, bool quiet) {
  int32_t error = 0;
  const int32_t index = AcquireText(path, &error);
  if (index == 0) {
    if (quiet) return false;
    Refuse(error, path, __LINE__);
  }
  Attach(index);
  return true;
}

bool ZorFsa::InitFromSysPath(const char* utf8, bool quiet) {
  string text;
  if (!SysToLibrary(utf8, &text)) {
    if (quiet) return false;
    Refuse(38, utf8, __LINE__);
  }
  return InitFromPath(text.CStr(), quiet);
}

void ZorFsa::InitFromParent(const ZorFsa* parent, const char* name) {
  files::RequirePath(parent, kSource, __LINE__, "ZorFsa::InitFromParent(parent)");
  std::string rest(name ? name : "");
  for (char& c : rest)
    if (c == '\\') c = '/';
  const int32_t index = AcquireBelow(parent->_index, rest);
  if (index == 0) Refuse(38, name, __LINE__);
  Attach(index);
}

bool ZorFsa::InitFromChild(const ZorFsa* child) {
  if (!child || !child->IsInit()) return false;
  const int32_t parent = Tree().Parent(child->_index);
  if (parent == 0) return false;
  Tree().AddRef(parent);
  Attach(parent);
  return true;
}

void ZorFsa::ChangeToChild(const char* name) { InitFromParent(this, name); }

bool ZorFsa::ChangeParent() { return InitFromChild(this); }

void ZorFsa::ChangeParent(const ZorFsa* newParent) {
  files::NonNull(newParent, kSource, __LINE__, "ZorFsa::ChangeParent(newParent)");
  if (!IsInit() || IsRoot()) return;
  string name;
  Tree().Name(_index, &name);
  InitFromParent(newParent, name.CStr());
}

bool ZorFsa::Rename(const char* name) {
  if (!IsInit() || IsRoot() || !name || !name[0] || ZorStrChr(name, '/') || ZorStrChr(name, '\\')) return false;
  const std::string_view component(name);
  if (component == "." || component == "..") return false;
  const int32_t index = Tree().Acquire(Tree().Parent(_index), &component, 1);
  Attach(index);
  return true;
}

bool ZorFsa::SrvToCnx() {
  std::string text = InternalText(_index);
  if (&RootOf(text) != &kServerRoot) return false;
  text.replace(0, kMarkerLen, kCnxRoot.marker);
  return InitFromPath(text.c_str(), true);
}

// ---------------------------------------------------------------- reading

const char* ZorFsa::GetPath(int32_t kind, string* dst) const {
  files::NonNull(dst, kSource, __LINE__, "ZorFsa::GetPath(dst)");
  if (!IsInit()) return dst->Clear();
  std::string text = InternalText(_index);
  const RootKind& root = RootOf(text);
  const bool sys = kind == ZorFsaPathSys || (kind == ZorFsaPathDisplay && root.displayAsSys);
  if (sys) text = SysText(root, std::move(text), IsRoot());
  return dst->Assign(text.c_str(), static_cast<int32_t>(text.size()));
}

const char* ZorFsa::GetSysPath(string* dst) const {
  files::NonNull(dst, kSource, __LINE__, "ZorFsa::GetSysPath(dst)");
  string text;
  GetPath(ZorFsaPathSys, &text);
  return ZorEncodeToUTF8(text.CStr(), dst);
}

const char* ZorFsa::GetName(string* dst, int32_t kind) const {
  files::NonNull(dst, kSource, __LINE__, "ZorFsa::GetName(dst)");
  if (!IsInit()) return dst->Clear();
  string name;
  Tree().Name(_index, &name);
  std::string_view view(name.CStr(), name.Len());
  if (IsRoot() && FindRoot(view)) view.remove_prefix(kMarkerLen);
  const std::string_view part = NamePart(view, kind);
  return dst->Assign(part.data(), static_cast<int32_t>(part.size()));
}

eZorFsaMedia ZorFsa::GetPathMedia() const {
  if (!IsInit()) return ZorFsaMediaLocal;
  string root;
  Tree().Name(Tree().Root(_index), &root);
  return RootOf(root.CStr()).media;
}

bool ZorFsa::IsRoot() const { return IsInit() && Tree().Parent(_index) == 0; }

bool ZorFsa::IsParent(const ZorFsa* child) const {
  return IsInit() && child && child->IsInit() && Tree().Parent(child->_index) == _index;
}

bool ZorFsa::IsAncestor(const ZorFsa* descendant) const {
  return IsInit() && descendant && Tree().IsAncestor(_index, descendant->_index);
}

bool ZorFsa::IsVirtual() const {
  if (!IsInit()) return false;
  string root;
  Tree().Name(Tree().Root(_index), &root);
  return RootOf(root.CStr()).isVirtual;
}

const char* ZorFsa::KillRoot(const char* path, string* dst) {
  files::NonNull(dst, kSource, __LINE__, "ZorFsa::KillRoot(dst)");
  const char* text = path ? path : "";
  return dst->Assign(FindRoot(text) ? text + kMarkerLen : text);
}

// ---------------------------------------------------------------- operators

ZorFsa operator/(const ZorFsa& parent, const char* name) {
  ZorFsa child;
  child.InitFromParent(&parent, name);
  return child;
}

ZorFsa operator/(const ZorFsa& parent, const string& name) { return parent / name.CStr(); }

}  // namespace zorvane
