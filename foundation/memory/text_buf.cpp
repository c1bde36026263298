// Text buffers.
//
// The bytes [0, _used) of the handle are the content; the rest of the block
// is reserve. Every append goes through ZorHandle::AppendData with a 32 KB
// reserve, so the block is reallocated only when an append passes its end.
// In a pool of texts each text is followed by its 0 byte and an offset names
// the text starting there; a buffer made with the empty entry starts with one
// 0 byte so that offset 0 is the empty text. _locked caches the data pointer
// between Lock and Unlock (the no-data address for an empty block) and
// follows the block when an append moves it.
#include <zorvane/exception.h>
#include <zorvane/handle.h>
#include <zorvane/string.h>

#include <cstring>

namespace zorvane {

namespace {
constexpr uint32_t kReserve = 32768;

uint32_t TextLength(const char* s, int32_t n) {
  if (!s) return 0;
  return n < 0 ? static_cast<uint32_t>(std::strlen(s)) : static_cast<uint32_t>(n);
}
}  // namespace

void ZorTextBuf::Init(bool withEmpty) {
  Trash();
  _h.Init(0u);
  if (withEmpty) CatZTerm();
}

void ZorTextBuf::Init(ZorHandle* h, bool share) {
  Trash();
  if (share)
    _h.Attach(h);
  else
    _h.Copy(h);
  if (!_h.IsInit()) _h.Init(0u);
  _used = _h.GetSize();
}

void ZorTextBuf::Trash() {
  _h.Trash();
  _used = 0;
  _locked = nullptr;
}

uint32_t ZorTextBuf::_append(const void* bytes, uint32_t n) {
  const uint32_t at = _used;
  if (!_h.IsInit()) _h.Init(0u);
  _h.AppendData(n, bytes, &_used, kReserve);
  if (_locked) _locked = static_cast<char*>(_h.GetDatas());
  return at;
}

uint32_t ZorTextBuf::AddText(const char* s, int32_t n) {
  const uint32_t len = TextLength(s, n);
  if (len == 0) {
    if (_used == 0) CatZTerm();
    return 0;
  }
  const uint32_t at = _append(s, len);
  CatZTerm();
  return at;
}

uint32_t ZorTextBuf::AddChar(char c) { return AddText(&c, c ? 1 : 0); }

// Offset of the text of n bytes s among the texts from offset 1, or 0.
uint32_t ZorTextBuf::_findText(const char* s, uint32_t n) {
  const char* base = static_cast<const char*>(_h.GetDatas());
  uint32_t at = 1;
  while (at < _used) {
    const void* end = std::memchr(base + at, 0, _used - at);
    const uint32_t len = end ? static_cast<uint32_t>(static_cast<const char*>(end) - (base + at)) : _used - at;
    if (len == n && std::memcmp(base + at, s, n) == 0 && end) return at;
    at += len + 1;
  }
  return 0;
}

uint32_t ZorTextBuf::AddTextV(const char* pattern, va_list args) {
  string text;
  text.FormatV(pattern, args);
  return AddText(text.CStr(), static_cast<int32_t>(text.Len()));
}

uint32_t ZorTextBuf::AddTextArgs(const char* pattern, const ZorFormArgs& args) {
  string text;
  text.FormatArgs(pattern, args);
  return AddText(text.CStr(), static_cast<int32_t>(text.Len()));
}

uint32_t ZorTextBuf::CatTextV(const char* pattern, va_list args) {
  string text;
  text.FormatV(pattern, args);
  return CatText(text.CStr(), static_cast<int32_t>(text.Len()));
}

uint32_t ZorTextBuf::CatTextArgs(const char* pattern, const ZorFormArgs& args) {
  string text;
  text.FormatArgs(pattern, args);
  return CatText(text.CStr(), static_cast<int32_t>(text.Len()));
}

uint32_t ZorTextBuf::AddDupText(const char* s, int32_t n) {
  const uint32_t len = TextLength(s, n);
  if (len == 0) return AddText(s, 0);
  const uint32_t found = _findText(s, len);
  return found ? found : AddText(s, static_cast<int32_t>(len));
}

uint32_t ZorTextBuf::CatText(const char* s, int32_t n) {
  const uint32_t len = TextLength(s, n);
  return len ? _append(s, len) : _used;
}

uint32_t ZorTextBuf::CatChar(char c) { return _append(&c, 1); }

uint32_t ZorTextBuf::CatZTerm() { return CatChar(0); }

char* ZorTextBuf::GetText(uint32_t offset) const {
  return (_locked && _locked != ZorNoData()) ? _locked + offset : nullptr;
}

const char* ZorTextBuf::GetString(string* dst) const {
  char* out = ZorNotNull(dst, "memory\\ZorTextBuf")->BufferAlloc(static_cast<int32_t>(_used));
  if (_used) std::memcpy(out, _h.GetDatas(), _used);
  return dst->CStr();
}

void* ZorTextBuf::Lock(ZorLock* guard) {
  if (!_h.IsInit()) _h.Init(0u);
  void* data = _h.Lock(nullptr);
  _locked = static_cast<char*>(data);
  if (guard) guard->Init(this);
  return data;
}

void ZorTextBuf::Unlock() {
  _h.Unlock();
  _locked = nullptr;
}

}  // namespace zorvane
