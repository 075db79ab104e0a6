#pragma once
// The run and the photo workers give way to the window's thread: on a machine with two cores,
// busy with a run, the window must still paint and answer at once.

namespace patrimonio {

// Lowers the scheduling priority of the calling thread a little below the program's others.
// Does nothing where the system does not allow it.
void giveWayToTheWindow();

}  // namespace patrimonio
