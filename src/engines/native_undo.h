// The replay of undo records for rollback and uninstall (on the job's thread).
#pragma once
#include <atomic>
#include <cstddef>
#include <vector>

#include "engines/native_job.h"
#include "engines/undo_log.h"

namespace orv {

// Replays the records from the last to the first. `replayedFrom` follows the index of the earliest
// record replayed so far (records.size() before the first), so the caller knows what was undone even if
// the thread is ended. True when every record was replayed; a cancel stops an uninstall
// (`cancelStops`), an abort answer stops either.
bool replayUndo(NativeJob& job, const std::vector<UndoRecord>& records, bool cancelStops,
                std::atomic<size_t>& replayedFrom);

}  // namespace orv
