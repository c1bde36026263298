// ZorBFile on a distant (shared network) file: revalidation after another
// process changed the file, and the writes that a distant file may make
// differentially.
//
// These are the plain versions: a change notice re-reads everything, and a
// range is always written whole.
#include <zorvane/bfile.h>

namespace zorvane {

void ZorBFile::_StreamChangedThunk(void* context, iZorStream*, bool everything) {
  static_cast<ZorBFile*>(context)->_OnStreamChanged(everything);
}

void ZorBFile::_OnStreamChanged(bool) {}

bool ZorBFile::_BeginRead() const { return false; }
void ZorBFile::_EndRead() const {}

bool ZorBFile::_WriteRange(int64_t pos, const void* data, uint32_t n, bool compareOnly) {
  if (compareOnly) return true;
  _stream->Seek(pos, ZorSeekSet);
  _stream->Write(data, n);
  return true;
}

}  // namespace zorvane
