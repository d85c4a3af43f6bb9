// The operations of the card store and the INI writers as crash-state scenarios
// (crash_states.h), each with the promises it keeps across a power cut:
//
//   import        every order of the order file applied exactly once after the next import
//                 (or the one order that cannot be told applied in PREPAID.REJ, with its
//                 reason); no batch marker lost, so no batch is paid twice
//   report        PREPAID.TXT is the old report or the new one, whole; every batch marker is in
//                 PREPAID.TRR or in the report in place; the next export succeeds; once the
//                 export returned, the new report
//   compaction    PREPAID.DAT is the old file or the compacted one, whole; the other files of
//                 the folder are as they were; the next compaction leaves the compacted file;
//                 once the compaction returned, the compacted file
//   record update each record is the old or the new one, and so is the card file's length
//   ini write     each INI file is the old one (or none) or the new one; once the write
//                 returned, the new one, also in a configuration folder that it created
//
// The scenarios need the local time fixed (the report's date line): the caller fixes the clock
// and the time zone around them.
#ifndef LINDAVOX_TESTSUPPORT_CRASH_SCENARIOS_H
#define LINDAVOX_TESTSUPPORT_CRASH_SCENARIOS_H

#include <vector>

#include "testsupport/crash_states.h"

namespace testsupport {

std::vector<CrashScenario> StoreCrashScenarios();

}  // namespace testsupport

#endif
