// The file-system questions and the one careful open of the file layer.
//
// Names: whether a directory compares names with or without case is a
// property of its file system, read from statfs's f_type. Windows-family
// file systems (FAT, exFAT) and SMB/CIFS shares fold case; every other file
// system of Linux compares names byte for byte.
//
// Opening: only regular files are opened for data. A FIFO, socket or device
// would block the open (a FIFO waits for its other end) or the reads for
// good, so OpenRegularFile refuses them without ever blocking.
#pragma once

#include <zorvane/types.h>

#include <sys/stat.h>

namespace zorvane::platform {

class Env;

// statfs f_type values that <linux/magic.h> does not all have.
constexpr uint32_t kCifsMagic = 0xFF534D42;
constexpr uint32_t kSmb2Magic = 0xFE534D42;

enum class NameCase : uint8_t {
  kUnknown,  // the path names nothing that can be asked (missing)
  kExact,    // names differ when any byte differs
  kFolded,   // names that differ only in case are one name
};

// How the file system holding sysPath (UTF-8) compares the names of a
// directory (asked through the current environment).
NameCase NameCaseAt(const char* sysPath);

// Opens sysPath (UTF-8), through env, as a regular file with open(2) flags (O_RDONLY,
// O_RDWR, O_WRONLY | O_TRUNC, O_CREAT with `mode` ...; O_CLOEXEC is added).
// Returns the descriptor, blocking as usual afterwards, with its fstat in
// *st; or -1 with the Windows error number in *winErr: the system's error,
// 5 (access denied) for a directory as Windows says, and 1 (invalid
// function) for any other file that is not a regular one.
int OpenRegularFile(Env& env, const char* sysPath, int flags, mode_t mode, struct stat* st, uint32_t* winErr);

}  // namespace zorvane::platform
