// ZorFsa: a path, named by its entry in the process-wide path tree.
//
// Every path of the process is a chain of components (root first) held in one
// shared tree, so that equal paths are one entry: two ZorFsa name the same
// file exactly when their indexes are equal. Names compare as the file system
// that holds them does: on a case-sensitive one (ext4, tmpfs ...)
// "/data/A.txt" and "/data/a.txt" are two files; on one that folds case
// (vfat, exfat, SMB shares), and for Windows-shaped texts ("C:\Data",
// "\\server\share"), they are one entry, spelled as it was first seen.
//
// A ZorFsa owns one reference on its entry: copying adds one, Trash() and the
// destructor release it. The tree is guarded by one lock; a ZorFsa value itself
// is used by one thread at a time like every other object of the library.
// Texts are returned in the caller's `string` and stay valid until it changes.
//
// The root component tells the medium (eZorFsaMedia): local files "!Cos!",
// server files "!Srv!", network shares "!Net!", connections "!Cnx!", http and
// ftp addresses "!Htp!"/"!Ftp!", and "!Tel!", "!Fax!", "!Mto!", "!Cto!",
// "!Reg!". A text under "!Cst!" names a registered well-known path (KRegister)
// and is resolved when it is read. How texts map to components and back is
// documented once, at the top of foundation/files/path.cpp.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class string;

// The medium of a path (GetPathMedia).
enum eZorFsaMedia : int32_t {
  ZorFsaMediaLocal = 0,   // local files, and the non-file roots (tel, mail, registry ...)
  ZorFsaMediaServer = 1,  // a file on the application server
  ZorFsaMediaNet = 2,     // network shares, http and ftp addresses
  ZorFsaMediaCnx = 3,     // a connection (smart path)
};

// The forms of a path's text (GetPath).
enum eZorFsaPathKind : int32_t {
  ZorFsaPathSys = 0,       // the operating system's form: "/data/a.txt" for a local path
  ZorFsaPathInternal = 1,  // the components joined by "/": "!Cos!/data/a.txt"
  ZorFsaPathSmart = 2,     // the smart-path form of a connection (else the internal form)
  ZorFsaPathDisplay = 3,   // the form shown to the user and written in logs
};

// The parts of the last component (GetName).
enum eZorFsaName : int32_t {
  ZorFsaNameFull = 0,  // "a.tar.gz"
  ZorFsaNameBase = 1,  // without the last extension: "a.tar"
  ZorFsaNameExt = 2,   // the last extension without its dot: "gz" (empty when none)
};

// Well-known path codes (InitFromKFsa, KRegister).
enum : int32_t {
  ZorKFsaStdLog = 115,  // the standard log file
};

class ZOR_API ZorFsa {
 public:
  ZorFsa() = default;
  // InitFromPath(path): raises on a text that is not a path.
  explicit ZorFsa(const char* path);
  ZorFsa(const ZorFsa& other);
  ZorFsa(ZorFsa&& other) noexcept;
  ZorFsa& operator=(const ZorFsa& other);
  ZorFsa& operator=(ZorFsa&& other) noexcept;
  ~ZorFsa();

  // ------------------------------------------------------------ life
  bool IsInit() const { return _index != 0; }
  void Trash();
  // Takes over `index` (whose reference the caller hands over), releasing
  // the previous entry.
  void Attach(int32_t index);
  // Returns the index and forgets it without releasing its reference.
  int32_t Detach();
  int32_t GetIndex() const { return _index; }

  // ------------------------------------------------------------ building
  // The path of a text (see foundation/files/path.cpp for the forms accepted). An
  // empty or relative text raises (1, 38) with the text as message, an
  // unknown root (1, 15); with `quiet` both return false instead and leave
  // the path unchanged.
  bool InitFromPath(const char* path, bool quiet = false);
  // The same for a text that comes from the system (UTF-8, as GetSysPath
  // gives); false when it is not UTF-8 that cp1252 can hold, or not a path.
  bool InitFromSysPath(const char* utf8, bool quiet = false);
  // The path `name` below `parent`; `name` may hold several levels separated
  // by "/" or "\". An empty name gives the parent itself.
  void InitFromParent(const ZorFsa* parent, const char* name);
  // The parent directory of `child`; false (path unchanged) for a root.
  bool InitFromChild(const ZorFsa* child);
  // The registered path of a well-known code, with `name` below it when
  // given; false (path unchanged) for an unknown code.
  bool InitFromKFsa(int32_t code, const char* name = nullptr);
  // Moves to the child `name` (several levels allowed), creating the entries.
  void ChangeToChild(const char* name);
  // Moves to the parent directory; false (unchanged) at a root.
  bool ChangeParent();
  // Keeps the last component and moves it below `newParent`.
  void ChangeParent(const ZorFsa* newParent);
  // Becomes the sibling named `name` (the file system is not touched).
  bool Rename(const char* name);
  // A server path becomes the connection path of the same place; false
  // (unchanged) for any other root.
  bool SrvToCnx();

  // ------------------------------------------------------------ reading
  // The text of the path in the form `kind` (eZorFsaPathKind); "" when unset.
  const char* GetPath(int32_t kind, string* dst) const;
  // The text to hand to the operating system: the ZorFsaPathSys form encoded
  // in UTF-8 (file names on Linux are UTF-8, library texts are cp1252).
  const char* GetSysPath(string* dst) const;
  // A part of the last component (eZorFsaName); "" when unset.
  const char* GetName(string* dst, int32_t kind = ZorFsaNameFull) const;
  eZorFsaMedia GetPathMedia() const;
  bool IsRoot() const;
  // True when this path is the direct parent of `child`.
  bool IsParent(const ZorFsa* child) const;
  // True when this path is a parent, grand-parent ... of `descendant`.
  bool IsAncestor(const ZorFsa* descendant) const;
  // True for roots that name no file: tel, fax, mail, call and registry.
  bool IsVirtual() const;

  bool operator==(const ZorFsa& other) const { return _index == other._index; }
  bool operator!=(const ZorFsa& other) const { return _index != other._index; }

  // The text without its five-character root marker ("!Cnx!srv/a" gives
  // "srv/a"); a text without a known marker is copied as it stands.
  static const char* KillRoot(const char* path, string* dst);

  // ------------------------------------------------------------ well-known paths
  // Registers `path` under `code` (replacing a previous registration), with
  // the public name `pubName` (null: "!Cst!<code>").
  static void KRegister(int32_t code, const ZorFsa* path, const char* pubName = nullptr);
  // Removes a registration; false when the code was not registered.
  static bool KUnRegister(int32_t code);
  // True when `code` names a path: registered or built in (the standard log).
  static bool KExiste(int32_t code);
  // The public name of a code ("" when unknown).
  static const char* KGetPubName(int32_t code, string* dst);
  // Forgets the built-in paths resolved so far (read again from the
  // environment on next use); registrations stay.
  static void S_KClearCache();

 private:
  int32_t _index = 0;
};

// The child path `name` of `parent` (InitFromParent).
ZOR_API ZorFsa operator/(const ZorFsa& parent, const char* name);
ZOR_API ZorFsa operator/(const ZorFsa& parent, const string& name);

}  // namespace zorvane
