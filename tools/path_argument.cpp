// Paths given on the command line.
#include "tools/commands.h"

#include <zorvane/zorvane.h>

#include <filesystem>

namespace zorvane::tool {

ZorFsa PathArgument(const std::string& utf8) {
  string text;
  if (!utf8.empty()) ZorDecodefromUTF8(std::filesystem::absolute(utf8).lexically_normal().c_str(), &text);
  ZorFsa path;
  path.InitFromPath(text.CStr());
  return path;
}

}  // namespace zorvane::tool
