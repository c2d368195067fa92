// Diagnostic lines for stderr (start-up notes, "stopping", dropped log lines, descriptor
// shortage) that never block the caller: the unit sends stderr to the journal, and a journal
// that stalls must not stall a stop, the accept strand or a request. Lines go to a bounded
// queue that a thread of its own writes; what does not fit is dropped and counted.
#pragma once

#include <cstddef>

namespace tambrel::diag {

// printf-style; a newline is added when the text has none.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Lines dropped because stderr did not take them.
unsigned long long dropped();
// Waits at most `waitMs` for the queued lines to be written (before the process exits).
bool flush(int waitMs);

}  // namespace tambrel::diag
