// `ZorPnv`: a dictionary of named texts (name -> value), kept as a text list
// whose items are the entries: no identifier, the name as code and the value
// as label.
//
// Names are not empty, do not start with a digit and hold only letters (the
// library's character classes), digits and "_"; they are compared without
// regard to case. Errors are ZorEBasic with the source "string\ZorPnv": an
// invalid or (for a unique add) existing name is (1, 19), a missing name
// asked for with mode 'E' is (1, 23). A failing add leaves the dictionary
// unchanged; so does a resource text that fails anywhere.
//
// Resource texts (AddRsrcTxt, GetRsrcTxt) are lines separated by LF:
//   // comment                      a line beginning with "//"
//   name:value piece                starts an entry
//   +name:more                      continues the entry of that name
//   :more                           continues the current entry
// Control characters (CR among them) are ignored; spaces and "+" before the
// name are skipped. With escapes, a backslash followed by n or t in a value
// gives LF or TAB, unless the backslash itself follows a backslash. A line
// without ":" is a name alone.
#pragma once

#include <zorvane/text_list.h>
#include <zorvane/types.h>

namespace zorvane {

class string;

// Flags of ZorPnv::GetRsrcTxt.
inline constexpr uint32_t ZorPnvRsrcEscapes = 0x1;  // write LF and TAB as \n and \t

class ZOR_API ZorPnv : public ZorTxtList {
 public:
  ZorPnv();
  ZorPnv(const ZorPnv&) = default;
  ZorPnv(ZorPnv&&) noexcept = default;
  ZorPnv& operator=(const ZorPnv&) = default;
  ZorPnv& operator=(ZorPnv&&) noexcept = default;
  ~ZorPnv() override;

  // An empty dictionary.
  void Init();
  void Trash();
  bool IsInit() const { return _init; }

  static bool IsValidName(const char* name);

  // Adds an entry (the dictionary is initialised if it was not). With
  // unescape the value is first decoded by ZorUnEscapeString.
  void AddTxt(const char* name, const char* value, bool unique = true, bool unescape = false);
  // True when the name exists and its value changed (values compared
  // without regard to case).
  bool UpdateTxt(const char* name, const char* value, bool unescape = false);
  bool IsNameExist(const char* name) const;

  // The value of name. Mode 'N' gives "<** Non définie **>" for an empty
  // value. A missing name gives, by mode: 'C' the name, 'E' the error
  // (1, 23), 'N' "<** Non définie **>", 'T' "T_" and the name, any other
  // the empty text.
  const char* GetTxt(string* dst, const char* name, char mode = 'E') const;
  // The value of name (mode 'E') as a message pattern: each "^0" .. "^4"
  // becomes "^0s" .. "^4s", then the arguments (null reads as empty) are
  // formatted in.
  const char* GetPrm(string* dst, const char* name, const char* a0 = nullptr, const char* a1 = nullptr,
                     const char* a2 = nullptr, const char* a3 = nullptr, const char* a4 = nullptr) const;

  // Every entry as name, label separator and value (the name alone for an
  // empty value), one per line, joined by LF.
  const char* GetList(string* dst) const;
  using ZorTxtList::GetList;  // into a row sink (a table): returns the count
  int32_t GetNbLines() const { return GetNbItem(); }

  // Adds the entries of a resource text, each one unique.
  void AddRsrcTxt(const char* text, bool escapes);
  // The entries in resource form: "name:" lines, each followed by its value
  // on ":" lines of at most `width` characters (0: one line). With header,
  // two "//" comment lines (date and user) come first. flags:
  // ZorPnvRsrcEscapes writes LF and TAB as escapes (read them back with
  // escapes); other control characters are left out.
  const char* GetRsrcTxt(string* dst, uint32_t width, uint32_t flags, bool header) const;

 private:
  void _add(const char* name, const char* value, bool unique);

  bool _init = false;
};

}  // namespace zorvane
