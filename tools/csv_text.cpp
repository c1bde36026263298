// See tools/csv_text.h.
#include "tools/csv_text.h"

#include "tools/tool_support.h"

#include <zorvane/zorvane.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zorvane::tool {

namespace {

constexpr size_t kBufferSize = 1 << 16;

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Bytes of the UTF-8 character that starts with `lead` (1 for a byte that
// starts none: the decoder then refuses it).
size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

// The character's UTF-8 bytes, printable in a message.
std::string Shown(const std::string& utf8) {
  std::string hex;
  char part[4];
  for (unsigned char c : utf8) {
    std::snprintf(part, sizeof part, "%s%02X", hex.empty() ? "" : " ", c);
    hex += part;
  }
  return hex;
}

}  // namespace

CsvFormat CsvFormatOf(const std::string& sep, const std::string& encoding) {
  CsvFormat f;
  if (sep == "tab" || sep == "\t")
    f.sep = '\t';
  else if (sep == "," || sep == ";")
    f.sep = sep[0];
  else
    throw ToolError{"--sep", "must be ',', ';' or 'tab'", kExitUsage};
  std::string e = encoding;
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::tolower(c); });
  if (e == "utf-8" || e == "utf8")
    f.encoding = CsvEncoding::kUtf8;
  else if (e == "cp1252" || e == "windows-1252")
    f.encoding = CsvEncoding::kCp1252;
  else
    throw ToolError{"--encoding", "must be utf-8 or cp1252", kExitUsage};
  return f;
}

// ---------------------------------------------------------------- reader

CsvReader::CsvReader(std::FILE* in, std::string name, CsvFormat format)
    : _in(in), _name(std::move(name)), _format(format), _buf(kBufferSize) {}

int CsvReader::Peek() {
  if (_pos == _end) {
    _end = std::fread(_buf.data(), 1, _buf.size(), _in);
    _pos = 0;
    if (_end == 0) {
      if (std::ferror(_in)) throw ToolError{_name, std::strerror(errno)};
      return EOF;
    }
  }
  return static_cast<unsigned char>(_buf[_pos]);
}

int CsvReader::Get() {
  const int c = Peek();
  if (c == EOF) return c;
  ++_pos;
  ++_offset;
  if (c == 0) Fail(_line, _col, "NUL byte");
  if (c == '\n' || (c == '\r' && Peek() != '\n')) {
    ++_line;
    _col = 1;
  } else if (c != '\r' && (_format.encoding == CsvEncoding::kCp1252 || (c & 0xC0) != 0x80)) {
    ++_col;  // UTF-8 continuation bytes belong to the character before
  }
  return c;
}

void CsvReader::Fail(int64_t line, int64_t col, const std::string& what) const {
  throw ToolError{_name, "line " + std::to_string(line) + ", column " + std::to_string(col) + ": " + what};
}

// The cp1252 text of the current field's bytes.
std::string CsvReader::Convert(const std::string& raw) const {
  const int64_t col = _fieldCol;
  if (_format.encoding == CsvEncoding::kCp1252 || IsAscii(raw)) return raw;
  string text, back;
  ZorDecodefromUTF8(raw.c_str(), &text);
  if (!text.IsEmpty() && ZorEncodeToUTF8(text.CStr(), &back) == raw) return text.CStr();
  // Find the first character that fails, one at a time.
  for (size_t i = 0, n = 0; i < raw.size(); ++n) {
    const std::string one = raw.substr(i, Utf8Length(static_cast<unsigned char>(raw[i])));
    ZorDecodefromUTF8(one.c_str(), &text);
    if (text.IsEmpty()) Fail(_fieldLine, col + static_cast<int64_t>(n), "invalid UTF-8 (bytes " + Shown(one) + ")");
    if (ZorEncodeToUTF8(text.CStr(), &back) != one)
      Fail(_fieldLine, col + static_cast<int64_t>(n), "the character " + one + " has no cp1252 form");
    i += one.size();
  }
  Fail(_fieldLine, col, "invalid UTF-8");
  return {};
}

void CsvReader::EndField(std::vector<std::string>* fields) {
  if (_headerWidth && fields->size() >= _headerWidth)
    Fail(_fieldLine, _fieldCol, "more fields than the header's " + std::to_string(_headerWidth));
  fields->push_back(Convert(_raw));
}

bool CsvReader::Next(std::vector<std::string>* fields) {
  fields->clear();
  if (_offset == 0 && _format.encoding == CsvEncoding::kUtf8 && Peek() == 0xEF) {
    // A BOM: three bytes, only at the very start.
    if (_end - _pos >= 3 && std::memcmp(&_buf[_pos], "\xEF\xBB\xBF", 3) == 0) _pos += 3, _offset += 3;
  }
  for (int c = Peek(); c == '\r' || c == '\n'; c = Peek()) Get();
  if (Peek() == EOF) return false;
  _recordLine = _line;
  for (;;) {
    _fieldLine = _line;
    _fieldCol = _col;
    _raw.clear();
    int c = Get();
    if (c == '"') {
      for (;;) {
        c = Get();
        if (c == EOF) Fail(_fieldLine, _fieldCol, "quoted field without its closing quote");
        if (c == '"') {
          if (Peek() != '"') break;
          Get();
        }
        _raw.push_back(static_cast<char>(c));
      }
      c = Peek();
      if (c != _format.sep && c != '\r' && c != '\n' && c != EOF)
        Fail(_line, _col, "text after a closing quote (quotes inside a field are written twice)");
      c = Get();
    } else {
      for (; c != _format.sep && c != '\r' && c != '\n' && c != EOF; c = Get()) _raw.push_back(static_cast<char>(c));
    }
    EndField(fields);
    if (c == _format.sep) continue;
    if (c == '\r' && Peek() == '\n') Get();
    break;
  }
  if (_headerWidth == 0)
    _headerWidth = fields->size();
  else
    fields->resize(_headerWidth);
  return true;
}

// ---------------------------------------------------------------- writer

void CsvWriter::Write(const std::vector<std::string>& fields) {
  _line.clear();
  string utf8;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) _line.push_back(_format.sep);
    const std::string& f = fields[i];
    const bool quote = f.find_first_of(std::string{'"', '\r', '\n', _format.sep}) != std::string::npos ||
                       (f.empty() && fields.size() == 1);
    const char* text = f.c_str();
    if (_format.encoding == CsvEncoding::kUtf8 && !IsAscii(f)) text = ZorEncodeToUTF8(text, &utf8);
    if (!quote) {
      _line += text;
      continue;
    }
    _line.push_back('"');
    for (const char* p = text; *p; ++p) {
      if (*p == '"') _line.push_back('"');
      _line.push_back(*p);
    }
    _line.push_back('"');
  }
  _line += "\r\n";
  if (std::fwrite(_line.data(), 1, _line.size(), _out) != _line.size()) throw ToolError{"", std::strerror(errno)};
}

}  // namespace zorvane::tool
