#include "engines/native_undo.h"

#include "core/commatext.h"
#include "engines/native_kinds.h"
#include "platform/redirection.h"

namespace orv {
namespace {

// Records whose single field is itself a comma text (the performed kind's data was one list). Only these
// are unwrapped: the single path of "Delete File" or "Delete Folder" would fall apart at its blanks.
bool nestedRecord(std::string_view kind) {
  for (std::string_view k :
       {"Delete Registry", "Delete Environment", "Remove INI Entry", "Remove ODBC DSN", "Delete ODBC Driver"})
    if (k == kind) return true;
  return false;
}

Fields recordFields(const UndoRecord& record) {
  Fields fields = splitCommaText(record.data);
  if (nestedRecord(record.kind) && fields.size() == 1) fields = splitCommaText(fields[0]);
  return fields;
}

}  // namespace

bool replayUndo(NativeJob& job, const std::vector<UndoRecord>& records, bool cancelStops,
                std::atomic<size_t>& replayedFrom) {
  for (size_t i = records.size(); i-- > 0;) {
    const UndoRecord& record = records[i];
    job.trace("        <" + record.kind + ">");
    job.setPlatform(record.platform);
    const Fields fields = recordFields(record);
    job.trace("        < " + record.data + " >");
    bool goOn = true;
    if (const InverseProcedure inverse = inverseProcedure(record.kind)) {
      FileSystemView view(record.platform);
      goOn = inverse(job, fields, record.weight);
    } else {
      job.trace("          < unknown undo record kind, skipped >");
      goOn = job.stepProgress(record.kind, record.weight);
    }
    replayedFrom.store(i);
    job.trace("        </" + record.kind + ">");
    if ((!goOn && cancelStops) || job.aborted()) return false;
  }
  return true;
}

}  // namespace orv
