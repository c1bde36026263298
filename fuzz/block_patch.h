// Patches chosen blocks of a block file with fuzz input, through the block
// file itself (the file stays sound; only what reads the blocks sees
// garbage).
//
// Input: patches of [block selector][offset lo][offset hi][n] + n bytes;
// the offset is taken modulo the block's size + 16 (a write past the end
// grows the block); bit 7 of n cuts the block at the offset instead.
#pragma once

#include <zorvane/zorvane.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzz_support {

inline void PatchBlocks(zorvane::ZorBFile* f, const std::vector<int32_t>& ids, const uint8_t* data, size_t size) {
  if (ids.empty()) return;
  f->StartTransaction();
  for (size_t at = 0; at + 4 <= size;) {
    const int32_t id = ids[data[at] % ids.size()];
    const uint32_t offset = data[at + 1] | uint32_t{data[at + 2]} << 8;
    const bool cut = data[at + 3] & 0x80;
    const size_t n = std::min<size_t>(data[at + 3] & 0x7F, size - at - 4);
    zorvane::ZorHandle h;
    f->BReadCopy(id, &h);
    const uint32_t len = h.GetSize(), pos = offset % (len + 16);
    if (cut) {
      h.SetSize(std::min(pos, len));
    } else if (n) {
      if (pos + n > len) h.SetSizeZ(static_cast<uint32_t>(pos + n));
      memcpy(static_cast<uint8_t*>(h.GetDatas()) + pos, data + at + 4, n);
    }
    f->BWriteCopy(id, &h, 0);
    at += 4 + (cut ? 0 : n);
  }
  f->EndTransaction();
}

}  // namespace fuzz_support
