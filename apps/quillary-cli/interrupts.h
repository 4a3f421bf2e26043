#pragma once

// Ctrl-C and SIGTERM ask a running scan or cleaning run to stop between two items. The signal
// handler only records the request and writes a byte to a pipe; a relay thread blocked on that
// pipe sets the run's stop event, so nobody polls for the request.

#include <thread>

#include "core/manual_reset_event.h"

namespace quillary::cli {

// Installs the handlers of SIGINT and SIGTERM; false when the pipe cannot be made (then an
// interrupt ends the program as it would by default).
bool CatchInterrupts();
// Whether an interrupt has arrived since the handlers were installed.
bool InterruptRequested();

// While it lives, an interrupt (one that came before it too) sets stop.
class CInterruptRelay {
public:
    explicit CInterruptRelay(CManualResetEvent& stop);
    ~CInterruptRelay();
    CInterruptRelay(const CInterruptRelay&) = delete;
    CInterruptRelay& operator=(const CInterruptRelay&) = delete;

private:
    std::thread thread_;
};

}  // namespace quillary::cli
