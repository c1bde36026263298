// ZorFileCheckSum: the MD5 fingerprint of a file or of a directory tree,
// computed in idle-time slices, and the checksum file that keeps it.
//
// One digest covers, for each file in scan order (ZorFsaScan, recursive):
//   - its name: for a tree, its path relative to the checked directory with
//     "/" between levels; for a single file, its name (cp1252 bytes);
//   - its size as 8 little-endian bytes;
//   - its content.
// Options (an option string, see <zorvane/format.h>) leave parts out:
//   -NoFileName   no names       -NoSize     no sizes
//   -NoContent    no contents    -NoCancel   CalcCheckSum cannot be cancelled
//   -AutoDetect   the file system says whether the path is a directory or a
//                 file (Init's isDir is then ignored; a missing path is a
//                 file).
// With the three "No" parts the digest is that of nothing and only the files
// are counted. A file whose content is read but that cannot be opened counts
// with size 0 and no content; without content the size is the one the file
// system reports.
//
// The checksum file (kCheckSumFileName inside a checked directory, the file's
// name with kCheckSumFileExt beside a checked file) holds the option string
// of GetCheckSum(full) on one line; in a tree it is not part of the digest.
//
// Life: Init binds the object to one path; DoIdle advances the work, which
// CalcCheckSum or GetCheckSum complete. The object owns the open file (one
// at a time) and the list of files found; Trash releases them. Used by one
// thread at a time.
#pragma once

#include <zorvane/path.h>
#include <zorvane/types.h>

#include <memory>

namespace zorvane {

class string;
class ZorProgress;

class ZOR_API ZorFileCheckSum {
 public:
  static constexpr const char* kCheckSumFileName = "zorvane.chk";
  static constexpr const char* kCheckSumFileExt = ".chk";
  static constexpr uint32_t kBlockSize = 16384;  // bytes read per step

  ZorFileCheckSum();
  ZorFileCheckSum(const ZorFileCheckSum&) = delete;
  ZorFileCheckSum& operator=(const ZorFileCheckSum&) = delete;
  ~ZorFileCheckSum();

  // Binds the object to `path`, a directory tree when isDir (else one file)
  // unless the options hold AutoDetect. A directory that cannot be read
  // raises the operating-system error. Any previous work is dropped.
  void Init(const ZorFsa* path, bool isDir, const char* options = nullptr);
  bool IsInit() const;
  void Trash();

  // Works for about `ms` milliseconds (always at least one step: one file
  // found, opened or one block read); true once the digest is complete.
  bool DoIdle(uint32_t ms);
  bool IsDone() const;
  // Runs to the end. With showProgress, `display` (null: the headless
  // display) shows the steps, in bytes, or in files without content. Raises
  // (1, 23) on a second call for the same Init, (1, 1000) when the user
  // cancels (unless NoCancel); the object may then only be trashed.
  void CalcCheckSum(bool showProgress, ZorProgress* display = nullptr);

  // The digest as 32 lower-case hexadecimal digits, or with `full` the option
  // string -ChkSum -GenDate (time stamp of the end of the work) -NbFile
  // -Mach -User -OrgOptions -OrgDirPath or -OrgFilePath -Version. Completes
  // the work first when needed (without display).
  const char* GetCheckSum(string* dst, bool full);
  // Files counted so far.
  int32_t GetNbFile() const;
  bool IsDir() const;
  const ZorFsa* GetFsa() const;

  // Writes GetCheckSum(full) to this path's checksum file, replacing it.
  void GenCheckSumFile();
  // The text of this path's checksum file; false (dst empty) when there is
  // none or it cannot be read.
  bool ReadCheckSumFile(string* dst) const;

  // The checksum file of a directory or of a file.
  static void S_GetCheckSumFile(const ZorFsa* path, bool isDir, ZorFsa* dst);
  // Computes the checksum of `path` (a directory or a file, by what it is)
  // with `options` and writes its checksum file.
  static void S_GenCheckSum(const ZorFsa* path, const char* options, bool showProgress = false,
                            ZorProgress* display = nullptr);
  // Computes the checksum of `path` again with the options stored in its
  // checksum file; true when it equals the stored one, false when it differs
  // or there is no checksum file.
  static bool S_CheckCheckSum(const ZorFsa* path, bool showProgress = false, ZorProgress* display = nullptr);
  // The text of the checksum file of `path`; false when there is none.
  static bool S_GetInfo(const ZorFsa* path, string* dst);

 private:
  struct Work;
  std::unique_ptr<Work> _work;
};

}  // namespace zorvane
