// `zorvane rsrc`: the packed envelope of resource files.
//
//   zorvane rsrc pack IN OUT     writes IN's bytes packed (ZorZipHandle)
//   zorvane rsrc unpack IN OUT   writes IN's bytes unpacked (ZorUnzipHandle)
//
// Data that cannot be packed (under 32 bytes, or not shrinking enough) is
// copied as it stands, with a note on stderr. Unpacking a file that is not
// a valid envelope writes nothing and exits 1.
#include "tools/commands.h"

#include <zorvane/zorvane.h>

#include <cstdio>
#include <memory>
#include <string>

namespace zorvane::tool {

namespace {

constexpr int32_t kTextGroup = 104;
constexpr int32_t kNotEnvelopeText = 355;
constexpr int32_t kCopiedText = 356;

struct RsrcArgs {
  std::string in;
  std::string out;
};

void ReadWhole(const ZorFsa& path, ZorHandle* h) {
  ZorLock guard;
  ZorReadHandle(ZorOpenStream(&path, ZorPermRead | ZorShareRead, &guard, 0), h, 0, -1);
}

void WriteWhole(const ZorFsa& path, ZorHandle* h) {
  ZorFsaCmd(&path).Create_File(ZorFsaCreateAlways);
  ZorLock guard;
  ZorWriteHandle(ZorOpenStream(&path, ZorPermReadWrite | ZorShareExclusive, &guard, 0), h, 0, true);
}

void Note(const char* cp1252) {
  string utf8;
  std::fprintf(stderr, "zorvane rsrc: %s\n", ZorEncodeToUTF8(cp1252, &utf8));
}

int Run(const RsrcArgs& a, bool pack) {
  const ZorFsa in = PathArgument(a.in), out = PathArgument(a.out);
  ZorHandle data;
  ReadWhole(in, &data);
  string name, text;
  ZorDecodefromUTF8(a.in.c_str(), &name);
  if (pack && !ZorZipHandle(&data)) Note(ZorFormString(&text, 1, kTextGroup, kCopiedText, name.CStr()));
  if (!pack && !ZorUnzipHandle(&data)) {
    Note(ZorFormString(&text, 1, kTextGroup, kNotEnvelopeText, name.CStr()));
    return 1;
  }
  WriteWhole(out, &data);
  return 0;
}

// Library errors are reported here so that their cp1252 text reaches the
// terminal as UTF-8.
int RunReporting(const RsrcArgs& a, bool pack) {
  try {
    return Run(a, pack);
  } catch (const ZorException& e) {
    string text;
    Note(e.ToString(&text));
    return 1;
  }
}

void AddStep(CLI::App* rsrc, const char* name, const char* help, bool pack, int& exitCode) {
  auto args = std::make_shared<RsrcArgs>();
  CLI::App* cmd = rsrc->add_subcommand(name, help);
  cmd->add_option("IN", args->in, "Input file")->required();
  cmd->add_option("OUT", args->out, "Output file")->required();
  cmd->callback([args, pack, &exitCode]() { exitCode = RunReporting(*args, pack); });
}

}  // namespace

void AddRsrcCommand(CLI::App& app, int& exitCode) {
  CLI::App* rsrc = app.add_subcommand("rsrc", "Pack and unpack the envelope of resource files");
  rsrc->require_subcommand(1);
  AddStep(rsrc, "pack", "Write IN packed in the resource envelope", true, exitCode);
  AddStep(rsrc, "unpack", "Write IN unpacked from the resource envelope", false, exitCode);
}

}  // namespace zorvane::tool
