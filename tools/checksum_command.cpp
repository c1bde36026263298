// `zorvane checksum PATH`: the MD5 fingerprint of a file or a directory tree
// (ZorFileCheckSum), with its checksum file on request.
//
//   zorvane checksum PATH [--full] [--no-name] [--no-size] [--no-content]
//                         [--write | --check]
//
// Prints the 32-digit digest, or with --full the option string that a
// checksum file holds. --write also stores that file beside the checked
// files; --check recomputes the checksum with the options stored there and
// exits 1 when it differs or there is none. Whether PATH is a file or a
// directory is read from the file system. While the work runs longer than a
// second and stderr is a terminal, a progress bar is drawn there; Ctrl-C
// cancels.
//
// Command-line texts are UTF-8 and library texts cp1252: arguments are
// decoded on the way in, results encoded on the way out.
#include "tools/commands.h"
#include "tools/terminal_progress.h"

#include <zorvane/zorvane.h>

#include <unistd.h>

#include <cstdio>
#include <string>

namespace zorvane::tool {

namespace {

struct ChecksumArgs {
  std::string path;
  bool full = false;
  bool noName = false;
  bool noSize = false;
  bool noContent = false;
  bool write = false;
  bool check = false;
};

void PrintUtf8(const char* cp1252) {
  string utf8;
  std::printf("%s\n", ZorEncodeToUTF8(cp1252, &utf8));
}

const char* OptionsOf(const ChecksumArgs& a, string* dst) {
  dst->Clear();
  ZorAddStrOptBool(dst, "NoFileName", a.noName);
  ZorAddStrOptBool(dst, "NoSize", a.noSize);
  ZorAddStrOptBool(dst, "NoContent", a.noContent);
  return dst->CStr();
}

int RunCheck(const ZorFsa& path, ZorProgress* display) {
  const bool same = ZorFileCheckSum::S_CheckCheckSum(&path, true, display);
  std::printf("%s\n", same ? "OK" : "FAILED");
  return same ? 0 : 1;
}

int RunChecksum(const ChecksumArgs& a) {
  const ZorFsa path = PathArgument(a.path);
  // The library counts a missing file as an empty one; here it is an error,
  // which asking for its size raises.
  ZorFsaCmd(&path).GetLogSize();
  TerminalProgress bar;
  ZorProgress* display = isatty(STDERR_FILENO) ? &bar : nullptr;
  if (a.check) return RunCheck(path, display);
  string options;
  ZorFileCheckSum sum;
  OptionsOf(a, &options);
  ZorAddStrOptBool(&options, "AutoDetect", true);
  sum.Init(&path, false, options.CStr());
  sum.CalcCheckSum(true, display);
  string text;
  PrintUtf8(sum.GetCheckSum(&text, a.full));
  if (a.write) sum.GenCheckSumFile();
  return 0;
}

// Library errors are reported here so that their cp1252 text reaches the
// terminal as UTF-8.
int RunReporting(const ChecksumArgs& a) {
  try {
    return RunChecksum(a);
  } catch (const ZorException& e) {
    string text, utf8;
    e.ToString(&text);
    std::fprintf(stderr, "zorvane checksum: %s\n", ZorEncodeToUTF8(text.CStr(), &utf8));
    return 1;
  }
}

}  // namespace

void AddChecksumCommand(CLI::App& app, int& exitCode) {
  auto args = std::make_shared<ChecksumArgs>();
  CLI::App* cmd = app.add_subcommand("checksum", "MD5 fingerprint of a file or a directory tree");
  cmd->add_option("PATH", args->path, "File or directory")->required();
  cmd->add_flag("--full", args->full, "Print the whole option string (date, machine, user, options, path)");
  cmd->add_flag("--no-name", args->noName, "Leave the file names out of the digest");
  cmd->add_flag("--no-size", args->noSize, "Leave the file sizes out of the digest");
  cmd->add_flag("--no-content", args->noContent, "Leave the file contents out of the digest");
  CLI::Option* write = cmd->add_flag("--write", args->write, "Also store the checksum file beside the files");
  cmd->add_flag("--check", args->check, "Compare with the stored checksum file (exit 1 when it differs)")
      ->excludes(write);
  cmd->callback([args, &exitCode]() { exitCode = RunReporting(*args); });
}

}  // namespace zorvane::tool
