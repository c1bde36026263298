// Driver of envelope_oracle.py (protocol: tests/support/driver.h); data
// travel in hexadecimal. Each answer is "<0|1> <hex>": the result, then the
// handle's bytes or the bytes a one-shot call produced. A failed one-shot
// call must leave the room it was given as it was.
#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

std::string Envelope(const Fields& f) {
  ZorHandle h = HandleOf(Unhex(f[1]));
  if (f[0] == "zipped") return Line("%d -", ZorIsHandleZipped(&h));
  const bool ok = f[0] == "pack" ? ZorZipHandle(&h) : ZorUnzipHandle(&h);
  return Line("%d ", ok) + HexText(h);
}

std::string OneShot(const Fields& f) {
  const bool compress = f[0] == "compress";
  const uint32_t room = static_cast<uint32_t>(Int(f[compress ? 2 : 1]));
  const std::string src = Unhex(f[compress ? 3 : 2]);
  std::string dst(room + 1, '\0');
  uint32_t got = room;
  const bool ok =
      compress ? ZorZipSpan::S_Compress(dst.data(), &got, src.data(), static_cast<uint32_t>(src.size()), Int(f[1]))
               : ZorZipSpan::S_Uncompress(dst.data(), &got, src.data(), static_cast<uint32_t>(src.size()));
  if (!ok && got != room) return "0 length-changed-on-failure";
  return Line("%d ", ok) + HexText(dst.data(), ok ? got : 0);
}

}  // namespace

int main() {
  return Serve(
      {{"pack", Envelope}, {"unpack", Envelope}, {"zipped", Envelope}, {"compress", OneShot}, {"uncompress", OneShot}});
}
