// What the engine's helper threads ask of the system for themselves.
#pragma once

namespace zelo {

// Gives the calling thread the smallest share of the processor while other threads want it: for work done
// only for what the window shows, which must not hold up the copies the user waits for.
void TakeLeastProcessorShare();

} // namespace zelo
