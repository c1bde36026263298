// Opening streams by medium, and the helpers that move handles and texts
// through any stream.
//
// Streams opened here belong to the guard they are registered with (see
// zorvane/stream.h). Local paths and connection paths (which name a file of
// the local file system) open a ZorStdStream; a server path needs the file
// service module, which this library does not have, and the other media name
// no file at all.
#include <zorvane/exception.h>
#include <zorvane/stream.h>

#include "foundation/errors/raise.h"
#include "foundation/files/file_args.h"
#include "platform/os_error.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorFiles";
constexpr int32_t kFilesTextGroup = 216;
constexpr int32_t kNoFileServiceText = 62;
constexpr uint32_t kCopyBlock = 1u << 20;

}  // namespace

iZorStream* ZorOpenStream(const ZorFsa* path, eZorStreamPerm perm, ZorLock* guard, uint32_t flags) {
  const eZorFsaMedia media = files::NonNull(path, kSource, __LINE__, "ZorOpenStream(path)")->GetPathMedia();
  if (media != ZorFsaMediaLocal && media != ZorFsaMediaCnx) {
    if (flags & ZorStmNoRaise) return nullptr;
    throw ZorEBasic(kSource, __LINE__, 1, ZorErr(1, 87), 1, kFilesTextGroup, kNoFileServiceText, path);
  }
  auto stream = std::make_unique<ZorStdStream>();
  if (!stream->Init(path, perm, flags)) {
    if (flags & ZorStmNoRaise) return nullptr;
    ZorRaiseWinErr(kSource, platform::kWinErrInvalidParameter, path);
  }
  stream->_setSelfOwned();
  stream->Lock(guard);
  return stream.release();
}

int32_t ZorReadHandle(iZorStream* s, ZorHandle* h, int64_t offset, int32_t n) {
  files::NonNull(s, kSource, __LINE__, "ZorReadHandle(s)");
  files::NonNull(h, kSource, __LINE__, "ZorReadHandle(h)");
  const uint64_t pos = offset >= 0 ? s->Seek(offset, ZorSeekSet) : s->Seek(0, ZorSeekCur);
  if (n < 0) {
    const uint64_t size = s->GetSize();
    const uint64_t rest = size > pos ? size - pos : 0;
    if (rest > INT32_MAX) ZorRaiseWinErr(kSource, platform::kWinErrInvalidParameter, nullptr);
    n = static_cast<int32_t>(rest);
  }
  h->Init(static_cast<uint32_t>(n));
  const uint32_t got = n > 0 ? s->Read(h->GetDatas(), static_cast<uint32_t>(n)) : 0;
  if (got < static_cast<uint32_t>(n)) h->SetSize(got);
  return static_cast<int32_t>(got);
}

void ZorWriteHandle(iZorStream* s, ZorHandle* h, int64_t offset, bool truncate) {
  files::NonNull(s, kSource, __LINE__, "ZorWriteHandle(s)");
  files::NonNull(h, kSource, __LINE__, "ZorWriteHandle(h)");
  if (offset >= 0) s->Seek(offset, ZorSeekSet);
  const uint32_t size = h->IsInit() ? h->GetSize() : 0;
  if (size > 0) {
    ZorLock pin;
    s->Write(h->Lock(&pin), size);
  }
  if (truncate) s->SetSize(s->Seek(0, ZorSeekCur));
}

void ZorWriteString(iZorStream* s, const char* text, int32_t n) {
  files::NonNull(s, kSource, __LINE__, "ZorWriteString(s)");
  if (n > 0) files::NonNull(text, kSource, __LINE__, "ZorWriteString(text)");
  const size_t len = n < 0 ? (text ? strlen(text) : 0) : static_cast<size_t>(n);
  if (len > UINT32_MAX) ZorRaiseWinErr(kSource, platform::kWinErrInvalidParameter, nullptr);
  if (len > 0) s->Write(text, static_cast<uint32_t>(len));
}

int64_t ZorCopyS2L(iZorStream* src, iZorStream* dst, int64_t n) {
  files::NonNull(src, kSource, __LINE__, "ZorCopyS2L(src)");
  files::NonNull(dst, kSource, __LINE__, "ZorCopyS2L(dst)");
  std::unique_ptr<char[]> buf(new char[kCopyBlock]);
  int64_t copied = 0;
  while (n < 0 || copied < n) {
    const uint32_t want = n < 0 ? kCopyBlock : static_cast<uint32_t>(std::min<int64_t>(kCopyBlock, n - copied));
    const uint32_t got = src->Read(buf.get(), want);
    if (got > 0) dst->Write(buf.get(), got);
    copied += got;
    if (got < want) break;
  }
  return copied;
}

}  // namespace zorvane
