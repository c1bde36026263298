// A block file image given as arbitrary bytes, salvaged into a new file.
// Salvage reads what no check has vetted, so: only library errors may come
// out (no crash, leak or hang), and whenever it succeeds the new file must
// open without tolerance, pass the three layout checks, and hold as many
// used blocks as Salvage says it kept, each readable.
//
// Salvage works on named files: the input is written to a scratch file of
// the process's own directory under $TMPDIR (else /tmp) for each run.
#include <zorvane/zorvane.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace zorvane;

namespace {

std::string ScratchDir() {
  const char* base = getenv("TMPDIR");
  std::string dir = std::string(base && *base ? base : "/tmp") + "/bfile_salvage_fuzz." + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  return dir;
}

void CheckNewFile(const ZorFsa& out, const sZorBfSalvage& result) {
  ZorBFile f;
  try {
    f.Open(&out, ZorPermReadWrite, ZorShareExclusive, 0, 4, -1, -1);
  } catch (const ZorException&) {
    __builtin_trap();
  }
  if (!f.CheckDir(nullptr) || !f.CheckCrossBlock(nullptr) || !f.CheckLostSpace(nullptr)) __builtin_trap();
  int32_t used = 0;
  f.BExist(0, &used);
  if (used != result.kept) __builtin_trap();
  for (int32_t id = 1; id <= f.GetDirCount(); ++id) {
    if (!f.BExist(id, nullptr)) continue;
    ZorHandle h;
    f.BReadCopy(id, &h);
  }
  f.Close(ZorBfCloseNormal);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static const std::string dir = ScratchDir();
  const std::string inName = dir + "/in.zbf", outName = dir + "/out.zbf";
  FILE* file = fopen(inName.c_str(), "wb");
  if (!file) return 0;
  fwrite(data, 1, size, file);
  fclose(file);
  remove(outName.c_str());
  const ZorFsa in(inName.c_str()), out(outName.c_str());
  sZorBfSalvage result;
  try {
    ZorBFile::Salvage(&in, &out, nullptr, nullptr, &result);
  } catch (const ZorException&) {
    return 0;
  }
  CheckNewFile(out, result);
  return 0;
}
