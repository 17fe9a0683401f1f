// A fault the double handles itself, as a component built with
// __try/__except handles its own: a structured-exception handler registered
// by a frame of the double, close to the fault.
#pragma once

namespace audit_double {

// Writes to a page that is reserved but not yet accessible, under a handler
// of the double's own frame: the handler makes the page writable and lets
// the write go on (the way a component commits memory lazily). Returns
// whether the handler ran; false means another handler took the fault first
// and this call did not come back normally.
bool FaultAndHandleIt();

// How many faults FaultAndHandleIt's handler has handled in this process.
long HandledFaults();

}  // namespace audit_double
