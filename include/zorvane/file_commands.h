// ZorFsaCmd: file-system commands on one path; ZorFsaScan: the files of a
// directory tree in a stable order.
//
// A ZorFsaCmd holds a copy of its path and the state read from the system the
// first time a question needs it (existence, kind, sizes, dates), kept until
// RefreshState() or a command of the object that changes the file. Commands
// that fail raise ZorEBasic with the operating-system error (family -1, a
// Windows error number) and the path, source "ZorFiles"; questions that only
// say yes or no (Exists, IsDir, IsRdWr) never raise.
//
// Dates are local times (`date`, whole seconds). Paths are handed to the
// system in UTF-8 (ZorFsa::GetSysPath).
#pragma once

#include <zorvane/date.h>
#include <zorvane/path.h>
#include <zorvane/types.h>

#include <memory>

namespace zorvane {

class string;

// How Create_File and Create_Dir treat what exists.
enum eZorFsaCreation : int32_t {
  ZorFsaCreateNew = 1,       // fails with 80 when the file exists
  ZorFsaCreateAlways = 2,    // an existing file is emptied
  ZorFsaOpenAlways = 4,      // an existing file (directory) is kept
  ZorFsaCreateParents = 0x100,  // flag: missing directories above are created
};

// Flags of Remove.
enum : uint32_t {
  ZorFsaRemoveTree = 0x1,  // a directory goes with everything inside it
};

// Flags of Copy and Move.
enum : uint32_t {
  ZorFsaCopyReplace = 0x1,  // an existing target is replaced (else error 80)
};

// Flags of ZorFsaCmd::Init.
enum : int32_t {
  ZorFsaCmdQuiet = 0x8000,  // sizes and dates of a missing file are 0, not an error
};

// Attribute bits of sZorFsaInfo.
enum : uint32_t {
  ZorFsaAttrReadOnly = 0x1,    // nobody may write (no write permission bit)
  ZorFsaAttrHidden = 0x2,      // the name starts with "."
  ZorFsaAttrDirectory = 0x10,
  ZorFsaAttrNormal = 0x80,     // a plain file without the bits above
};

struct sZorFsaInfo {
  uint32_t attributes = 0;  // ZorFsaAttr... bits
  uint64_t logSize = 0;     // bytes of content
  uint64_t physSize = 0;    // bytes allocated on the volume
  date creation;
  date modification;
  date access;
};

class ZOR_API ZorFsaCmd {
 public:
  ZorFsaCmd();
  ZorFsaCmd(const ZorFsa* path, int32_t flags = 0);
  ~ZorFsaCmd();
  ZorFsaCmd(const ZorFsaCmd&) = delete;
  ZorFsaCmd& operator=(const ZorFsaCmd&) = delete;

  // Binds the command to `path`; flags: ZorFsaCmdQuiet.
  void Init(const ZorFsa* path, int32_t flags = 0);
  bool IsInit() const { return _path.IsInit(); }
  void Trash();
  const ZorFsa* GetFsa() const { return &_path; }
  // Forgets what was read from the system.
  void RefreshState();

  // ------------------------------------------------------------ questions
  bool Exists();
  bool IsDir();
  // True when the process may read and write the file (or directory).
  bool IsRdWr();
  int64_t GetLogSize();
  int64_t GetPhysSize();
  // False (empty date) only for a missing file with ZorFsaCmdQuiet. The
  // creation date is the birth time where the file system keeps one, else
  // the older of the change and modification times.
  bool GetCreation(date* dst);
  bool GetModif(date* dst);
  // Free bytes of the volume for this process (of the nearest existing
  // directory above a missing path).
  uint64_t GetDiskFreeSpaceA();
  bool GetInfos(sZorFsaInfo* info);
  // Sets the modification and access dates (non-empty ones) and the
  // read-only attribute; other bits are ignored.
  void SetInfos(const sZorFsaInfo* info);

  // ------------------------------------------------------------ commands
  // True when the file was created, false when it existed and was kept
  // (ZorFsaOpenAlways) or emptied (ZorFsaCreateAlways).
  bool Create_File(int32_t creation);
  // True when the directory was created, false when it existed (allowed
  // unless ZorFsaCreateNew).
  bool Create_Dir(int32_t creation);
  // Creates a new empty file in this directory, named prefix + six unique
  // characters + ext, and returns its path in `created`.
  void Create_UniqueFile(const char* prefix, const char* ext, ZorFsa* created);
  // True when removed, false when there was nothing to remove.
  bool Remove(uint32_t flags = 0);
  // Renames (moves) the file; an existing target is an error (80). The
  // command then names the new path.
  void Rename(const ZorFsa* to);

  // ------------------------------------------------------------ static
  // Copies a file, or a directory tree, with its dates and permissions.
  static void Copy(const ZorFsa* from, const ZorFsa* to, uint32_t flags = 0);
  // Renames, or copies then removes across volumes.
  static void Move(const ZorFsa* from, const ZorFsa* to, uint32_t flags = 0);
  // True when both files have the same size and bytes.
  static bool S_CompareFile(const ZorFsa* a, const ZorFsa* b);
  // True when `text` is a local file-system path that InitFromPath accepts.
  static bool S_IsFilePath(const char* text);
  // Creates an empty temporary file in $TMPDIR (else /tmp), named
  // prefix + six unique characters + ext (null: "zor" and ".tmp").
  static void S_OpenTempo(ZorFsa* created, const char* prefix = nullptr, const char* ext = nullptr);
  // The temporary directory.
  static void S_GetTempDir(ZorFsa* dir);

 private:
  struct State;
  const State& _stat();
  void _require(const State& s);

  ZorFsa _path;
  int32_t _flags = 0;
  std::unique_ptr<State> _state;
};

// Flags of ZorFsaScan::Init.
enum : uint32_t {
  ZorFsaScanRecurse = 0x1,  // enter sub-directories
  ZorFsaScanDirs = 0x2,     // report directories too (before their content)
  ZorFsaScanHidden = 0x4,   // include names starting with "."
};

// The entries of a directory tree, in a stable order: in each directory, its
// files sorted by name (case-insensitively by the library's collation, equal
// names by their bytes), then its sub-directories in the same order, each
// entered in turn. Names that cp1252 cannot hold are skipped, as are entries
// other than plain files and directories (symbolic links are followed).
class ZOR_API ZorFsaScan {
 public:
  ZorFsaScan();
  ~ZorFsaScan();
  ZorFsaScan(const ZorFsaScan&) = delete;
  ZorFsaScan& operator=(const ZorFsaScan&) = delete;

  // Binds the scan to `dir` (ZorFsaScan... flags); raises when it cannot be
  // read as a directory.
  void Init(const ZorFsa* dir, uint32_t flags = ZorFsaScanRecurse);
  bool IsInit() const;
  void Trash();

  // The next entry: true and its path; false at the end. A sub-directory
  // that cannot be read is skipped.
  bool Next(ZorFsa* path);
  // Of the entry that Next gave last.
  bool IsDir() const;
  int64_t GetSize() const;
  // Its path relative to the scanned directory, "/" between levels.
  const char* GetRelPath(string* dst) const;

 private:
  struct State;
  std::unique_ptr<State> _state;
};

}  // namespace zorvane
