// See tools/tool_support.h.
#include "tools/tool_support.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

namespace zorvane::tool {

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "is a FIFO";
  if (S_ISSOCK(mode)) return "is a socket";
  if (S_ISCHR(mode)) return "is a character device";
  if (S_ISBLK(mode)) return "is a block device";
  if (S_ISDIR(mode)) return "is a directory";
  return "is a special file";
}

// Why an existing `mode` does not suit `use`, or "".
std::string Refusal(mode_t mode, PathUse use) {
  if (use == PathUse::kNewFile) return "already exists";
  if (S_ISREG(mode) || (use == PathUse::kFileOrDir && S_ISDIR(mode))) return "";
  return std::string(KindOf(mode)) +
         (use == PathUse::kFileOrDir ? ", neither a regular file nor a directory" : ", not a regular file");
}

// Block-file damage that the repair or the salvage deals with: a crash
// counter left set or a failed directory check (32), an unknown version.
bool IsDamage(int64_t err) { return err == ZorErr(1, 32) || err == ZorErr(1, 33) || err == ZorErr(1, 34); }

// A command that concerns no path (messages) gives "".
void Print(const char* command, const std::string& path, const std::string& text) {
  if (path.empty())
    std::fprintf(stderr, "zorvane %s: %s\n", command, text.c_str());
  else
    std::fprintf(stderr, "zorvane %s: %s: %s\n", command, path.c_str(), text.c_str());
}

}  // namespace

std::string Utf8(const char* cp1252) {
  string out;
  return ZorEncodeToUTF8(cp1252, &out);
}

std::string PathText(const ZorFsa& path) {
  string text;
  return Utf8(path.GetPath(ZorFsaPathDisplay, &text));
}

ZorFsa ToolPath(const std::string& arg, PathUse use) {
  if (arg.empty()) throw ToolError{"\"\"", "empty path", kExitUsage};
  struct stat st {};
  if (::stat(arg.c_str(), &st) == 0) {
    if (std::string why = Refusal(st.st_mode, use); !why.empty()) throw ToolError{arg, why};
  } else if (errno != ENOENT || use == PathUse::kFile || use == PathUse::kFileOrDir) {
    throw ToolError{arg, errno == ENOENT ? "no such file" : std::strerror(errno)};
  }
  string text;
  ZorDecodefromUTF8(std::filesystem::absolute(arg).lexically_normal().c_str(), &text);
  ZorFsa path;
  path.InitFromPath(text.CStr());
  return path;
}

void PollBreak() {
  if (ZorIsUserBreak()) ZorProgress::S_RaiseCancel("zorvane", __LINE__);
}

std::string ErrorText(const char* command, const ZorException& e, const std::string& where) {
  string text;
  std::string line = Utf8(e.ToString(&text));
  if (e.GetError() == ZorErr(-1, 32)) line += "\n  another process has the file open; close it there first";
  if (IsDamage(e.GetError())) {
    // A database is repaired with its tables; a plain block file by itself.
    const char* check = std::strncmp(command, "db ", 3) == 0 ? "db" : "bfile";
    line += std::string("\n  the block file is damaged: `zorvane ") + check + " check --repair " + where +
            "` repairs what can be repaired; `zorvane bfile salvage " + where +
            " OUT` copies its sound blocks into a new file";
  }
  return line;
}

int RunReported(const char* command, const std::string& path, const std::function<int()>& run) {
  try {
    return run();
  } catch (const ToolError& e) {
    Print(command, e.path, e.text);
    return e.exitCode;
  } catch (const ZorException& e) {
    const std::string where = e.GetFsa()->IsInit() ? PathText(*e.GetFsa()) : path;
    if (e.GetError() == ZorErr(1, 1000)) {
      Print(command, where, "interrupted");
      return kExitCancelled;
    }
    Print(command, where, ErrorText(command, e, where));
    return kExitFailure;
  } catch (const std::exception& e) {
    Print(command, path, e.what());
    return kExitFailure;
  }
}

bool LoadToolModule(int32_t id, const char* name) {
  sZorModuleInfo info;
  info.id = id;
  std::strncpy(info.name, name, sizeof info.name - 1);
  ZorRegisterModule(nullptr, &info, true);
  ZorLock guard;
  return ZorGetModule(id, &guard) != nullptr;
}

ZorFsa BackupBeforeRepair(const std::string& file, const ZorFsa& path) {
  const std::string name = file + ".bak";
  try {
    const ZorFsa copy = ToolPath(name, PathUse::kNewFile);
    ZorFsaCmd::Copy(&path, &copy);
    return copy;
  } catch (const ToolError& e) {
    throw ToolError{name, e.text + " (move it away, or repair with --no-backup)"};
  }
}

}  // namespace zorvane::tool
