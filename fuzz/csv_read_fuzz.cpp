// Fuzzes the tool's CSV reader on arbitrary bytes, in UTF-8 and in cp1252,
// with ',' and ';'. Bad input must end in the reader's own error (a
// ToolError naming a line and column), never a crash or a hang. Whatever it
// accepts must survive the writer: the records written out and read again
// are the same records.
#include "tools/csv_text.h"
#include "tools/tool_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace zorvane::tool;
using Records = std::vector<std::vector<std::string>>;

namespace {

// The records of `bytes`; false when the reader refused them.
bool ReadAll(const char* bytes, size_t size, CsvFormat format, Records* out) {
  out->clear();
  if (size == 0) return true;  // fmemopen refuses an empty buffer
  std::FILE* in = fmemopen(const_cast<char*>(bytes), size, "rb");
  if (!in) std::abort();
  bool ok = true;
  try {
    CsvReader reader(in, "fuzz", format);
    std::vector<std::string> fields;
    while (reader.Next(&fields)) out->push_back(fields);
  } catch (const ToolError& e) {
    if (e.text.find("line ") != 0) std::abort();
    ok = false;
  }
  std::fclose(in);
  return ok;
}

std::string WriteAll(const Records& records, CsvFormat format) {
  char* bytes = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&bytes, &size);
  CsvWriter writer(out, format);
  for (const auto& r : records) writer.Write(r);
  std::fclose(out);
  std::string text(bytes, size);
  std::free(bytes);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  for (CsvEncoding encoding : {CsvEncoding::kUtf8, CsvEncoding::kCp1252}) {
    for (char sep : {',', ';'}) {
      const CsvFormat format{sep, encoding};
      Records first, second;
      if (!ReadAll(bytes, size, format, &first)) continue;
      const std::string written = WriteAll(first, format);
      if (!ReadAll(written.data(), written.size(), format, &second) || second != first) std::abort();
    }
  }
  return 0;
}
