// Fuzzes key building: the first 80 bytes are a stored index definition
// (missing bytes read as zeros), the rest is the record. The key goes into a
// buffer of exactly keyLen bytes and the record lies in a buffer of exactly
// its size, so that the sanitizers see any access past either. Building
// twice into the same buffer gives the same bytes, and reverting it stays
// inside it.
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace zorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  uint8_t stored[kZorKeyStoredSize] = {};
  const size_t head = size < sizeof stored ? size : sizeof stored;
  std::memcpy(stored, data, head);
  sZorKey key;
  key.LoadFrom(stored);
  const size_t recordSize = size - head;
  std::unique_ptr<uint8_t[]> record(new uint8_t[recordSize ? recordSize : 1]);
  if (recordSize) std::memcpy(record.get(), data + head, recordSize);
  const size_t keyBytes = key.keyLen ? key.keyLen : 1;
  std::unique_ptr<uint8_t[]> out(new uint8_t[keyBytes]), again(new uint8_t[keyBytes]);
  std::memset(out.get(), 0x5A, key.keyLen);
  ZorBuildIndex(&key, recordSize ? record.get() : nullptr, static_cast<uint32_t>(recordSize), out.get());
  std::memcpy(again.get(), out.get(), key.keyLen);
  ZorBuildIndex(&key, recordSize ? record.get() : nullptr, static_cast<uint32_t>(recordSize), again.get());
  if (std::memcmp(out.get(), again.get(), key.keyLen) != 0) std::abort();
  ZorRevertIndex(out.get(), key.keyLen);
  return 0;
}
