// ZorBfStress: proves that a block file can be shared by several processes
// on the medium where it lives (a network drive, or a local disk forced
// distant), by running a known workload and verifying the result.
//
// Workload. A fresh block file holds one counter block. Each of N forked
// processes runs M transactions; each transaction reads the counter (v),
// writes v + 1 and creates a block tagged with the process (owner = its
// index, 1..N) whose bytes are a pattern of (index, v, size); some also
// rewrite one of the process's own blocks with a new size and pattern,
// delete one, or read one back and compare it. Every process reports each
// transaction to the parent before and after committing it.
//
// Verification. The counter equals the number of committed transactions;
// the counter values the transactions read are exactly 0..counter-1 (the
// transactions were serialised); every block a process should own is there
// with its owner, type and exact bytes, and no other tagged block exists;
// no process saw a block with wrong bytes; the file's four checks are
// clean. A process killed on purpose may leave one transaction undecided:
// it counts as committed exactly when the block it created is in the file
// with its bytes, and then all of it must be there (the counter included),
// else none of it.
//
// Lost space after a kill. Without the journal of a copy-on-write opening,
// a process killed between the directory write and the header write of its
// flush has committed its directory, but entries it
// appended past the header's count stay unknown; an old extent it released
// into such an entry becomes lost space (the blocks themselves are intact).
// The lost-space check reports it and its repair reclaims it; the result
// counts it apart (lostSpaceFaults) so that a caller can tell it from damage.
#pragma once

#include <zorvane/path.h>
#include <zorvane/types.h>

namespace zorvane {

class ZorVerif;

struct sZorBfStressOptions {
  int32_t processes = 4;
  int32_t transactions = 500;
  int32_t openFlags = 0x0200;  // ZorBfOpenCopyOnWrite
  int32_t cacheBlocks = -1;
  uint32_t seed = 1;
  bool forceDistant = true;    // ZorSetForceDistant(true) for the run
  // A process (1..processes) that dies by SIGKILL: with killAfterMs >= 0
  // the parent kills it after that many milliseconds, else it kills itself
  // inside its transaction number killInTransaction (from 1), after its
  // changes and before committing.
  int32_t killProcess = 0;
  int32_t killInTransaction = 0;
  int32_t killAfterMs = -1;
  // Processes killed by SIGKILL at random moments of the run (after a
  // random number of commits of all processes): each time a running one is
  // chosen at random, and a new process (the next owner index) takes over
  // the transactions it had left.
  int32_t kills = 0;
};

struct sZorBfStressResult {
  int64_t counter = 0;               // the counter block at the end
  int64_t committed = 0;             // transactions reported committed
  int32_t undecided = 0;             // transactions of killed processes
  int32_t blocksVerified = 0;        // tagged blocks found intact
  int32_t blocksMissing = 0;
  int32_t blocksDamaged = 0;         // wrong owner, type, size or bytes
  int32_t blocksExtra = 0;           // tagged blocks nobody should own
  int32_t mismatchesSeen = 0;        // read-backs that differed, in the processes
  int32_t failedProcesses = 0;       // died or exited non-zero (not counting the killed ones)
  int32_t killed = 0;                // processes killed on purpose
  int32_t checkFaults = 0;           // faults of the four checks
  int32_t lostSpaceFaults = 0;       // of which lost space (see the file comment)
  bool serialised = false;           // the values read are exactly 0..counter-1
  double seconds = 0;                // the processes' run, fork to last exit
  int32_t discrepancies = 0;         // everything that is wrong, summed
};

// Creates (or empties) the file at path, runs the workload and verifies it.
// Returns true when nothing is wrong. The report, when given, receives one
// section with a line per verified property. Raises for failures outside
// the workload (the file cannot be created, fork fails).
ZOR_API bool ZorBfStress(const ZorFsa* path, const sZorBfStressOptions* options, sZorBfStressResult* result,
                         ZorVerif* report);

}  // namespace zorvane
