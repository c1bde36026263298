// CSV text for the tool's imports and exports.
//
// The format: one record per line, fields split by a separator (',' by
// default, ';' or a tab), a field in double quotes may hold separators,
// line breaks (CR, LF) and quotes written twice; records end with LF, CRLF
// or CR. The first record is the header: a later record with more fields
// than it is an error, one with fewer has empty fields at the end. Lines
// without a single byte are skipped. Fields come out as the library's cp1252
// text: the file is UTF-8 (a leading BOM is dropped) or cp1252. A UTF-8
// character that cp1252 has no byte for, a malformed UTF-8 sequence or a
// NUL byte is an error, never a silent '?'.
//
// The reader is streamed: it keeps one buffer and the current record, never
// the file. Errors are ToolError texts naming the file, the line and the
// column (in characters, 1-based).
//
// The writer quotes only the fields that need it (separator, quote, CR, LF,
// or a lone empty field, which would otherwise read as a blank line) and
// ends every record with CRLF.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zorvane::tool {

enum class CsvEncoding { kUtf8, kCp1252 };

struct CsvFormat {
  char sep = ',';
  CsvEncoding encoding = CsvEncoding::kUtf8;
};

// The format of the --sep and --encoding options ("," ";" "tab" or "\t";
// "utf-8" or "cp1252"); raises a usage ToolError for anything else.
CsvFormat CsvFormatOf(const std::string& sep, const std::string& encoding);

class CsvReader {
 public:
  // `in` stays the caller's; `name` (UTF-8) is what errors show.
  CsvReader(std::FILE* in, std::string name, CsvFormat format);

  // The next record's fields in cp1252; false at the end of the file. The
  // first call gives the header.
  bool Next(std::vector<std::string>* fields);
  // The line on which the last record began.
  int64_t Line() const { return _recordLine; }
  // Bytes consumed so far (for progress).
  uint64_t Offset() const { return _offset; }

 private:
  int Get();  // the next byte or EOF
  int Peek();
  void Fail(int64_t line, int64_t col, const std::string& what) const;
  void EndField(std::vector<std::string>* fields);
  std::string Convert(const std::string& raw) const;

  std::FILE* _in;
  std::string _name;
  CsvFormat _format;
  std::vector<char> _buf;
  size_t _pos = 0, _end = 0;
  uint64_t _offset = 0;
  int64_t _line = 1, _col = 1;  // of the next byte
  int64_t _recordLine = 0;
  int64_t _fieldLine = 1, _fieldCol = 1;  // where the current field began
  size_t _headerWidth = 0;      // 0 until the header is read
  std::string _raw;             // the current field's bytes
};

class CsvWriter {
 public:
  // `out` stays the caller's.
  CsvWriter(std::FILE* out, CsvFormat format) : _out(out), _format(format) {}
  // Writes one record of cp1252 fields; raises a ToolError when the
  // stream fails.
  void Write(const std::vector<std::string>& fields);

 private:
  std::FILE* _out;
  CsvFormat _format;
  std::string _line;
};

}  // namespace zorvane::tool
