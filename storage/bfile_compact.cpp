// ZorBFile compaction: NeedCompact and Compact. Placeholder versions that
// never compact; the maintenance code replaces them.
#include <zorvane/bfile.h>

namespace zorvane {

bool ZorBFile::NeedCompact(eZorBfCompact) { return false; }
bool ZorBFile::Compact(eZorBfCompact, bool, bool, ZorProgress*) { return false; }

}  // namespace zorvane
