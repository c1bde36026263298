// Small helpers every test family uses: the code of the library error a call
// raises, bytes in and out of handles, hexadecimal dumps.
#pragma once

#include <zorvane/exception.h>
#include <zorvane/handle.h>
#include <zorvane/module.h>
#include <zorvane/path.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

namespace zorvane::test {

// The code of the ZorEBasic that f raises (0 when it raises none); *path
// receives the path the error names.
template <class F>
int64_t ErrorOf(F&& f, ZorFsa* path = nullptr) {
  try {
    f();
  } catch (const ZorEBasic& e) {
    if (path) *path = *e.GetFsa();
    return e.GetError();
  }
  return 0;
}

// The library's own error number n, as ErrorOf reports it.
#define EXPECT_LIB_ERROR(n, stmt) EXPECT_EQ(::zorvane::ZorErr(1, n), ::zorvane::test::ErrorOf([&] { stmt; }))

inline ZorHandle HandleOf(const std::string& bytes) {
  ZorHandle h;
  h.Init(static_cast<uint32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(h.GetDatas(), bytes.data(), bytes.size());
  return h;
}

inline std::string BytesOf(const ZorHandle& h) {
  return h.GetSize() ? std::string(static_cast<const char*>(h.GetDatas()), h.GetSize()) : std::string();
}

inline std::string Hex(const void* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = static_cast<const uint8_t*>(p)[i];
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// Registers module id under name, its folder below the modules root, with
// its object when given.
inline void RegisterModule(int32_t id, const char* name, uint32_t flags = 0, bool loadTypes = false,
                           ZorModule* object = nullptr) {
  sZorModuleInfo info;
  info.id = id;
  info.flags = flags;
  std::strncpy(info.name, name, sizeof info.name - 1);
  ZorRegisterModule(object, &info, loadTypes);
}

// A handle's bytes as a file, such as a module's loose resource.
inline void WriteHandleFile(const std::string& file, const ZorHandle* h) {
  std::ofstream(file, std::ios::binary).write(static_cast<const char*>(h->GetDatas()), h->GetSize());
}

}  // namespace zorvane::test
