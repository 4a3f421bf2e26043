#pragma once

// A seam for the fault-injection tests: every durable step the program takes on the disk (an
// append to a backup journal, a replaced data or registry file, a deleted file) is counted,
// and a test run can ask for the Nth step to fail as a full disk does, or for the process to
// end right after the Nth step as a `kill -9` would end it. The counting is off unless the
// process was started with one of these variables set to a positive number:
//
//   QUILLARY_FAIL_WRITE       the step of that number fails with "No space left on device"
//   QUILLARY_EXIT_AFTER_WRITE the process ends with exit code 137 right after that step
//   QUILLARY_HOLD_AFTER_DELETION  a file's path: after the first file deletion the process
//                             creates "<path>.held" and waits while <path> exists, so that a
//                             test can start Wine in the middle of a run
//
// Nothing else in the program reads them, and an ordinary run never sets them.

#include <optional>
#include <string>

namespace quillary {

enum class WriteStep { JournalAppend, FileReplace, FileDeletion };

// Called before a step; the failure to report instead of taking it, when one is injected.
std::optional<std::string> InjectedWriteFailure(WriteStep step);

// Called once a step has been taken.
void WriteStepTaken(WriteStep step);

}  // namespace quillary
